#include "CaptureOptions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Tesmo.h"

namespace {

bool ParseFormat(const std::string& name, int& code) {
  static const struct {
    const char* name;
    int code;
  } formats[] = {{"rgb24", kVideoRgb24},
                 {"i420", kVideoI420},
                 {"rgb555", kVideoRgb555},
                 {"rgb32", kVideoRgb32}};
  for (const auto& format : formats)
    if (name == format.name) {
      code = format.code;
      return true;
    }
  return false;
}

bool ParseSize(const std::string& text, int& width, int& height) {
  return std::sscanf(text.c_str(), "%dx%d", &width, &height) == 2 && width > 0 && height > 0;
}

}  // namespace

void PrintCaptureUsage() {
  std::printf(
      "usage: tesmo-capture [--list] [--watch] [--follow] [--seconds S]\n"
      "         audio: [--no-audio] [--device N] [--out FILE.wav] [--channels C] [--rate HZ]\n"
      "                [--bits B] [--block BYTES] [--input mic|line] [--record-level PERCENT]\n"
      "         video: [--no-video] [--video-device N] [--frames DIR] [--size WxH]\n"
      "                [--format rgb24|i420|rgb555|rgb32] [--fpm FRAMES_PER_MINUTE] [--preview]\n"
      "                [--control NAME=VALUE|NAME=auto]...\n"
      "Captures S seconds (default 5) from the default audio and video devices: PCM into a\n"
      "WAV file, every delivered frame as DIR/frame-NNNNNN.bmp (I420 converted to RGB).\n"
      "--record-level sets the recording level once the device is open, reads it back and\n"
      "prints both results, with the volume of each wave-in device's mixer before and after.\n"
      "--list prints each device's identity (what finds it again after re-plugging) and each\n"
      "camera's modes and controls, and captures nothing.\n"
      "--watch prints the devices that arrive and leave, until interrupted (or for S seconds\n"
      "when --seconds is given), and captures nothing.\n"
      "--follow goes on across an unplug: when a device leaves, the capture waits for it to\n"
      "come back (found by its identity), opens it with the same settings and writes on\n"
      "into the same files.\n"
      "--control sets a camera control once the camera is open, before capturing: NAME one of\n"
      "brightness contrast hue saturation sharpness gamma colorenable whitebalance\n"
      "backlightcompensation gain pan tilt roll zoom exposure iris focus; a refused one ends\n"
      "the run.\n");
}

bool ParseCaptureOptions(int argc, char** argv, CaptureOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    auto number = [&](int& out) {
      const char* text = value();
      if (!text) return false;
      char* end = nullptr;
      long parsed = std::strtol(text, &end, 10);
      if (*end != '\0') return false;
      out = static_cast<int>(parsed);
      return true;
    };
    auto text = [&](std::string& out) {
      const char* got = value();
      if (got) out = got;
      return got != nullptr;
    };
    bool ok = true;
    if (arg == "--help" || arg == "-h") {
      PrintCaptureUsage();
      std::exit(0);
    } else if (arg == "--list") {
      options.listOnly = true;
    } else if (arg == "--seconds") {
      const char* got = value();
      ok = got && (options.seconds = std::atof(got)) > 0;
      options.secondsGiven = true;
    } else if (arg == "--watch") {
      options.watch = true;
    } else if (arg == "--follow") {
      options.follow = true;
    } else if (arg == "--no-audio") {
      options.audio = false;
    } else if (arg == "--device") {
      ok = number(options.audioDevice);
    } else if (arg == "--out") {
      ok = text(options.wavPath);
    } else if (arg == "--channels") {
      ok = number(options.channels);
    } else if (arg == "--rate") {
      ok = number(options.rate);
    } else if (arg == "--bits") {
      ok = number(options.bits);
    } else if (arg == "--block") {
      ok = number(options.block);
    } else if (arg == "--input") {
      ok = text(options.input);
    } else if (arg == "--record-level") {
      ok = number(options.recordLevel) && options.recordLevel >= 0 && options.recordLevel <= 100;
    } else if (arg == "--no-video") {
      options.video = false;
    } else if (arg == "--video-device") {
      ok = number(options.videoDevice);
    } else if (arg == "--frames") {
      ok = text(options.framesDir);
    } else if (arg == "--size") {
      std::string size;
      ok = text(size) && ParseSize(size, options.width, options.height);
    } else if (arg == "--format") {
      std::string format;
      ok = text(format) && ParseFormat(format, options.formatCode);
    } else if (arg == "--fpm") {
      ok = number(options.framesPerMinute);
    } else if (arg == "--preview") {
      options.preview = true;
    } else if (arg == "--control") {
      std::string setting;
      ControlRequest request;
      ok = text(setting) && ParseControlRequest(setting, request);
      if (ok) options.controls.push_back(request);
    } else {
      std::fprintf(stderr, "tesmo-capture: unknown option %s\n", arg.c_str());
      PrintCaptureUsage();
      return false;
    }
    if (!ok) {
      std::fprintf(stderr, "tesmo-capture: %s needs a valid value\n", arg.c_str());
      PrintCaptureUsage();
      return false;
    }
  }
  if (!options.audio && !options.video) {
    std::fprintf(stderr, "tesmo-capture: --no-audio and --no-video leave nothing to capture\n");
    return false;
  }
  return true;
}
