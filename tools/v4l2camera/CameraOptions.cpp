#include "CameraOptions.h"

#include <linux/videodev2.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace v4l2camera {

CameraOptions::CameraOptions() : formats{V4L2_PIX_FMT_BGR24, V4L2_PIX_FMT_YUYV} {}

namespace {

bool ParseNumber(const char* text, uint64_t& out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  unsigned long long value = std::strtoull(text, &end, 10);
  if (*end != '\0') return false;
  out = value;
  return true;
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  std::string part;
  while (std::getline(stream, part, ','))
    if (!part.empty()) parts.push_back(part);
  return parts;
}

}  // namespace

CameraOptions ReadCameraOptions(const char* (*lookup)(const char* name)) {
  CameraOptions options;
  if (const char* text = lookup("TESMO_V4L2_SIZES")) {
    std::vector<FrameSize> sizes;
    for (const auto& part : Split(text)) {
      unsigned width = 0, height = 0;
      char tail = 0;
      // Even widths only: YUYV carries one chroma pair per two pixels.
      if (std::sscanf(part.c_str(), "%ux%u%c", &width, &height, &tail) == 2 && width >= 16 &&
          height >= 16 && width % 2 == 0 && width <= 4096 && height <= 4096)
        sizes.push_back({width, height});
    }
    if (!sizes.empty()) options.sizes = sizes;
  }
  if (const char* text = lookup("TESMO_V4L2_FORMATS")) {
    std::vector<uint32_t> formats;
    for (const auto& part : Split(text)) {
      if (part == "bgr24") formats.push_back(V4L2_PIX_FMT_BGR24);
      if (part == "yuyv") formats.push_back(V4L2_PIX_FMT_YUYV);
    }
    if (!formats.empty()) options.formats = formats;
  }
  uint64_t number = 0;
  if (ParseNumber(lookup("TESMO_V4L2_FPS"), number) && number >= 1 && number <= 240)
    options.framesPerSecond = uint32_t(number);
  if (ParseNumber(lookup("TESMO_V4L2_VANISH_AFTER"), number)) options.vanishAfterFrames = number;
  if (ParseNumber(lookup("TESMO_V4L2_BACK_AFTER_MS"), number))
    options.backAfterMs = uint32_t(number);
  if (ParseNumber(lookup("TESMO_V4L2_BUSY"), number)) options.busy = number != 0;
  if (ParseNumber(lookup("TESMO_V4L2_SLOW_MS"), number) && number <= 10000)
    options.slowMs = uint32_t(number);
  if (const char* text = lookup("TESMO_V4L2_NAME"); text && *text) options.name = text;
  if (const char* text = lookup("TESMO_V4L2_LOG")) options.logPath = text;
  return options;
}

}  // namespace v4l2camera
