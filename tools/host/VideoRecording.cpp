#include "VideoRecording.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "CaptureReason.h"
#include "DeviceChanges.h"
#include "ControlNames.h"
#include "FrameImage.h"
#include "support/PictureReader.h"

namespace {

const char* FormatName(int code) {
  switch (code) {
    case kVideoRgb24: return "RGB24";
    case kVideoI420: return "I420";
    case kVideoRgb555: return "RGB555";
    case kVideoRgb32: return "RGB32";
    default: return "?";
  }
}

}  // namespace

VideoRecording::VideoRecording() : capture(CreateVSC()) {}

VideoRecording::~VideoRecording() {
  if (capture) capture->Destroy();
}

void VideoRecording::FrameSink::ReadNumbersOf(int formatCode, int width, int height) {
  switch (formatCode) {
    case kVideoRgb24: pictureFormat = int(testdevices::PixelFormat::Rgb24); break;
    case kVideoI420: pictureFormat = int(testdevices::PixelFormat::I420); break;
    case kVideoRgb555: pictureFormat = int(testdevices::PixelFormat::Rgb555); break;
    case kVideoRgb32: pictureFormat = int(testdevices::PixelFormat::Rgb32); break;
    default: pictureFormat = -1;
  }
  pictureWidth = width;
  pictureHeight = height;
}

void VideoRecording::FrameSink::OnData(const unsigned char* data, int length,
                                       unsigned long tickMs) {
  if (delivered++ == 0) firstTick = tickMs;
  lastTick = tickMs;
  if (pictureFormat >= 0) {
    const long number = testpicture::ReadFrameNumber(
        testpicture::HostFrame(testdevices::PixelFormat(pictureFormat), pictureWidth, pictureHeight,
                               data, size_t(length)));
    if (number >= 0) {
      if (numbered++ == 0) firstNumber = number;
      lastNumber = number;
    }
  }
  std::lock_guard<std::mutex> hold(mutex);
  if (pending.size() >= kMaxPending) {
    ++discarded;
    return;
  }
  pending.emplace_back(data, data + length);
}

std::deque<std::vector<unsigned char>> VideoRecording::FrameSink::Take() {
  std::lock_guard<std::mutex> hold(mutex);
  std::deque<std::vector<unsigned char>> taken;
  taken.swap(pending);
  return taken;
}

namespace {

// "MJPG", "YUY2", ... or "RGB24"; the library reports RGB by its bit count.
std::string ModeFormatName(unsigned int format) {
  switch (format) {
    case 8: return "RGB8";
    case 15: return "RGB555";
    case 16: return "RGB565";
    case 24: return "RGB24";
    case 32: return "RGB32";
    default: break;
  }
  std::string name;
  for (int shift = 0; shift < 32; shift += 8) {
    const char letter = static_cast<char>(format >> shift);
    name += letter >= 0x20 && letter < 0x7F ? letter : '?';
  }
  return name;
}

// What the library does to the camera's frames, in words.
std::string TreatmentText(int treatment) {
  if (treatment == kVideoPassedThrough) return "passed through as they come";
  std::string text;
  if (treatment & kVideoDecoded) text = "decoded";
  if (treatment & kVideoConverted) text += text.empty() ? "converted" : ", converted";
  if (treatment & kVideoCroppedAndScaled)
    text += text.empty() ? "cropped and scaled" : " and cropped and scaled";
  return text;
}

}  // namespace

void VideoRecording::PrintControls(int device) {
  std::vector<CameraControlInfo> controls(kControlCount);
  int count = 0;
  if (ListCameraControls(nullptr, device, controls.data(), kControlCount, &count) != kCaptureDone) {
    std::printf("        controls: not readable\n");
    return;
  }
  if (count == 0) std::printf("        controls: none\n");
  for (int c = 0; c < count && c < kControlCount; ++c) {
    const CameraControlInfo& control = controls[static_cast<size_t>(c)];
    const char* offers = control.modes == (kControlAuto | kControlManual) ? "auto or manual"
                         : control.modes == kControlAuto                  ? "auto only"
                                                                          : "manual only";
    std::printf("        control: %s %d..%d step %d, default %d, current %d %s (%s)\n",
                ControlName(control.control), control.minimum, control.maximum, control.step,
                control.defaultValue, control.value,
                control.mode == kControlAuto ? "auto" : "manual", offers);
  }
}

bool VideoRecording::List(bool withDetails) {
  if (!capture) return false;
  std::vector<char> names(64 * kNameEntryBytes);
  int count = 0;
  if (capture->ListDevices(names.data(), &count) != kCaptureYes) count = 0;
  std::printf("Video capture devices: %d\n", count);
  for (int i = 0; i < count; ++i) {
    std::printf("  [%d] %s\n", i, names.data() + i * kNameEntryBytes);
    if (!withDetails) continue;
    std::string found;
    if (IdentityAt(kDeviceVideo, i, found) == kCaptureYes)
      std::printf("        identity: %s\n", found.c_str());
    std::vector<CameraModeInfo> modes(64);
    int modeCount = 0;
    if (ListCameraModes(i, modes.data(), static_cast<int>(modes.size()), &modeCount) !=
        kCaptureYes)
      std::printf("        modes: none listed\n");
    for (int m = 0; m < modeCount; ++m) {
      const CameraModeInfo& mode = modes[static_cast<size_t>(m)];
      std::printf("        mode: %dx%d %s, %d frames per minute\n", mode.width, mode.height,
                  ModeFormatName(mode.format).c_str(), mode.framesPerMinute);
    }
    PrintControls(i);
  }
  return count > 0;
}

int VideoRecording::Begin(const CaptureOptions& chosen, void* previewOwner) {
  options = chosen;
  if (!capture) {
    std::fprintf(stderr, "tesmo-capture: the video capture object could not be created\n");
    return 1;
  }
  if (capture->SetFormat(options.width, options.height, options.formatCode) != kCaptureDone ||
      capture->SetFrameRate(options.framesPerMinute) != kCaptureDone) {
    std::fprintf(
        stderr, "tesmo-capture: video format refused (%dx%d %s, %d frames per minute; 5 to 1800)\n",
        options.width, options.height, FormatName(options.formatCode), options.framesPerMinute);
    return 1;
  }
  std::error_code error;
  std::filesystem::create_directories(options.framesDir, error);
  if (error) {
    std::fprintf(stderr, "tesmo-capture: cannot make the folder %s\n", options.framesDir.c_str());
    return 1;
  }
  capture->SetPreviewWindow(previewOwner);
  sink.ReadNumbersOf(options.formatCode, options.width, options.height);
  if (int failed = OpenAndStart()) return failed;
  started = true;
  startTick = GetTickCount();
  std::vector<char> name(kNameEntryBytes);
  capture->GetDeviceName(name.data());
  std::printf("Video: device %d (%s), %dx%d %s, %d frames per minute, into %s\n",
              options.videoDevice, name.data(), options.width, options.height,
              FormatName(options.formatCode), options.framesPerMinute, options.framesDir.c_str());
  VideoCaptureStatistics mode{};
  mode.size = sizeof mode;
  if (GetVideoCaptureStatistics(capture, &mode) == kCaptureDone)
    std::printf("Camera mode: %dx%d %s at %.2f frames a second (%s), %s\n", mode.cameraWidth,
                mode.cameraHeight, ModeFormatName(mode.cameraFormat).c_str(),
                mode.frameInterval > 0 ? 1e7 / mode.frameInterval : 0.0,
                mode.videoInfo2 ? "VideoInfo2" : "VideoInfo", TreatmentText(mode.treatment).c_str());
  return 0;
}

int VideoRecording::OpenAndStart() {
  if (capture->Open(options.videoDevice) != kCaptureDone) {
    std::fprintf(stderr, "tesmo-capture: video device %d could not be opened at %dx%d %s: %s\n",
                 options.videoDevice, options.width, options.height,
                 FormatName(options.formatCode), FailureText(capture).c_str());
    return 3;
  }
  for (const ControlRequest& request : options.controls) {
    const CaptureResult result =
        SetCameraControl(capture, 0, request.control, request.value, request.mode);
    int value = 0, mode = 0;
    GetCameraControl(capture, 0, request.control, &value, &mode);  // printed as read, if at all
    if (result != kCaptureDone) {
      std::fprintf(stderr, "tesmo-capture: the camera refused %s=", ControlName(request.control));
      if (request.mode == kControlAuto)
        std::fprintf(stderr, "auto (%d)\n", result);
      else
        std::fprintf(stderr, "%d (%d)\n", request.value, result);
      return 3;
    }
    std::printf("Control: %s set, now %d %s\n", ControlName(request.control), value,
                mode == kControlAuto ? "auto" : "manual");
  }
  IdentityAt(kDeviceVideo, options.videoDevice, identity);
  capture->SetSink(&sink);
  if (capture->Start() != kCaptureDone) {
    std::fprintf(stderr, "tesmo-capture: video capture could not start: %s\n",
                 FailureText(capture).c_str());
    return 3;
  }
  return 0;
}

std::string VideoRecording::CloseReason() const { return FailureText(capture); }

int VideoRecording::Reopen(int index) {
  Poll();  // the frames from before the device left are written first
  sink.ForgetNumbers();
  options.videoDevice = index;
  return OpenAndStart();
}

bool VideoRecording::Poll() {
  for (const auto& frame : sink.Take()) {
    auto bmp = EncodeBmp(options.width, options.height, options.formatCode, frame.data(),
                         static_cast<int>(frame.size()));
    if (bmp.empty()) {
      ++wrongLength;
      continue;
    }
    char file[32];
    std::snprintf(file, sizeof file, "frame-%06lu.bmp", written + 1);
    if (!WriteFile((std::filesystem::path(options.framesDir) / file).string(), bmp)) {
      writeFailed = true;
      return false;
    }
    ++written;
  }
  return true;
}

std::string VideoRecording::Progress() const {
  const unsigned long delivered = sink.Delivered();
  char line[320];
  int used = std::snprintf(line, sizeof line, "frames delivered %5lu", delivered);
  if (delivered >= 2 && sink.LastTick() > sink.FirstTick())
    used += std::snprintf(line + used, sizeof line - used, " (%.1f a second)",
                          (delivered - 1) * 1000.0 / double(sink.LastTick() - sink.FirstTick()));
  // The library's own counts say what became of every frame the camera sent.
  VideoCaptureStatistics s{};
  s.size = sizeof s;
  if (GetVideoCaptureStatistics(capture, &s) == kCaptureDone) {
    used += std::snprintf(line + used, sizeof line - used,
                          ", camera sent %u: dropped by the pace %u, at the store %u, "
                          "undecodable %u",
                          s.framesFromCamera, s.framesDroppedByPace, s.framesDroppedAtStore,
                          s.framesUndecodable);
    const unsigned long silent =
        s.framesFromCamera ? GetTickCount() - s.lastCameraFrameTick : GetTickCount() - startTick;
    if (silent >= 1000)
      used += std::snprintf(line + used, sizeof line - used,
                            "; the camera has sent nothing for %.1f s", silent / 1000.0);

  }
  // The test cameras draw their frame number into the picture: a check from outside.
  if (delivered > 0 && sink.Numbered() == delivered) {
    const long sent = sink.LastNumber() - sink.FirstNumber() + 1;
    used += std::snprintf(line + used, sizeof line - used,
                          "; camera frames %ld..%ld: %ld not delivered", sink.FirstNumber(),
                          sink.LastNumber(), sent - static_cast<long>(delivered));
  }
  if (sink.Discarded())
    std::snprintf(line + used, sizeof line - used, ", %lu not written (this host fell behind)",
                  sink.Discarded());
  // What the library makes of it: a quiet device, or a close of its own.
  return line + OwnReportLine(capture);
}

int VideoRecording::Finish() {
  if (!started) return 0;
  capture->Stop();
  capture->SetSink(nullptr);
  const bool closedByItself = capture->IsOpened() != kCaptureYes;
  VideoCaptureStatistics s{};
  s.size = sizeof s;
  if (GetVideoCaptureStatistics(capture, &s) == kCaptureDone)
    std::printf("Video totals: the camera sent %u frames: %u delivered, %u dropped by the pace, "
                "%u at the store, %u undecodable, %u still waiting; arrival to OnData %u ms "
                "(median of the last second), %u ms at most\n",
                s.framesFromCamera, s.framesDelivered, s.framesDroppedByPace,
                s.framesDroppedAtStore, s.framesUndecodable, s.framesWaiting, s.delayMedianMs,
                s.delayLargestMs);
  Poll();
  std::printf("Wrote %lu frames as BMP files in %s\n", written, options.framesDir.c_str());
  if (writeFailed) {
    std::fprintf(stderr, "tesmo-capture: writing a frame into %s failed\n",
                 options.framesDir.c_str());
    return 1;
  }
  if (wrongLength)
    std::fprintf(stderr, "tesmo-capture: %lu frames were shorter than %dx%d needs\n", wrongLength,
                 options.width, options.height);
  if (closedByItself)
    std::fprintf(stderr, "tesmo-capture: the library closed the camera: %s\n",
                 FailureText(capture).c_str());
  if (written == 0) {
    std::fprintf(stderr, "tesmo-capture: no video frame arrived\n");
    return 4;
  }
  return 0;
}
