#include "VirtualCamera.h"

#include <linux/version.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "FramePicture.h"

namespace v4l2camera {

namespace {

struct ControlRange {
  uint32_t id;
  const char* name;
  int32_t minimum, maximum, step, defaultValue;
};

// What Wine's IAMVideoProcAmp reads and sets, in id order. Ranges of its own (not the
// 0..255 that many drivers report), so a check can tell they came from here.
constexpr ControlRange kControls[] = {
    {V4L2_CID_BRIGHTNESS, "Brightness", -64, 64, 1, 0},
    {V4L2_CID_CONTRAST, "Contrast", 0, 100, 5, 50},
    {V4L2_CID_SATURATION, "Saturation", 0, 200, 10, 100},
    {V4L2_CID_HUE, "Hue", -90, 90, 1, 0},
};

const ControlRange* FindControl(uint32_t id) {
  for (const auto& control : kControls)
    if (control.id == id) return &control;
  return nullptr;
}

const char* FormatName(uint32_t pixelFormat) {
  return pixelFormat == V4L2_PIX_FMT_BGR24  ? "BGR24"
         : pixelFormat == V4L2_PIX_FMT_YUYV ? "YUYV"
                                            : "?";
}

void CopyText(uint8_t* to, size_t size, const std::string& text) {
  std::memset(to, 0, size);
  std::memcpy(to, text.data(), std::min(size - 1, text.size()));
}

}  // namespace

VirtualCamera::VirtualCamera(CameraOptions chosen) : options(std::move(chosen)) {
  for (const auto& control : kControls) controls[control.id] = control.defaultValue;
}

bool VirtualCamera::Present(Clock::time_point now) const {
  std::lock_guard<std::mutex> hold(mutex);
  return !AwayLocked(now);
}

bool VirtualCamera::AwayLocked(Clock::time_point now) const {
  if (vanished && options.backAfterMs &&
      now - vanishedAt >= std::chrono::milliseconds(options.backAfterMs))
    vanished = false;  // plugged back: a new open works, the old descriptors stay dead
  return vanished;
}

void VirtualCamera::VanishLocked(Clock::time_point now) {
  vanished = vanishedOnce = true;
  vanishedAt = now;
  owner = -1;  // the stream that held it died with it
  for (auto& [fd, stream] : streams) stream.unplugged = true;
}

int VirtualCamera::Open(int fd, Clock::time_point now) {
  std::lock_guard<std::mutex> hold(mutex);
  if (AwayLocked(now)) return -ENOENT;
  Stream& stream = streams[fd];
  stream = Stream{};
  stream.pixelFormat = options.formats.front();
  stream.width = options.sizes.front().width;
  stream.height = options.sizes.front().height;
  return 0;
}

bool VirtualCamera::IsCamera(int fd) const {
  std::lock_guard<std::mutex> hold(mutex);
  return streams.count(fd) != 0;
}

bool VirtualCamera::Offers(uint32_t pixelFormat) const {
  return std::find(options.formats.begin(), options.formats.end(), pixelFormat) !=
         options.formats.end();
}

bool VirtualCamera::OffersSize(uint32_t width, uint32_t height) const {
  return std::any_of(options.sizes.begin(), options.sizes.end(), [&](const FrameSize& size) {
    return size.width == width && size.height == height;
  });
}

// As a driver does for TRY_FMT: an unknown format becomes the first one offered, a size
// the nearest offered (by area).
void VirtualCamera::Adjust(v4l2_pix_format& pix) const {
  if (!Offers(pix.pixelformat)) pix.pixelformat = options.formats.front();
  if (!OffersSize(pix.width, pix.height)) {
    const uint64_t wanted = uint64_t(pix.width) * pix.height;
    auto distance = [&](const FrameSize& size) {
      const uint64_t area = uint64_t(size.width) * size.height;
      return area > wanted ? area - wanted : wanted - area;
    };
    const FrameSize best = *std::min_element(
        options.sizes.begin(), options.sizes.end(),
        [&](const FrameSize& a, const FrameSize& b) { return distance(a) < distance(b); });
    pix.width = best.width;
    pix.height = best.height;
  }
  pix.field = V4L2_FIELD_NONE;
  pix.bytesperline = pix.width * (pix.pixelformat == V4L2_PIX_FMT_BGR24 ? 3 : 2);
  pix.sizeimage = uint32_t(FrameBytes(pix.pixelformat, pix.width, pix.height));
  pix.colorspace = V4L2_COLORSPACE_SRGB;
  pix.priv = 0;
  pix.flags = 0;
  pix.ycbcr_enc = 0;
  pix.quantization = 0;
  pix.xfer_func = 0;
}

bool VirtualCamera::ClaimLocked(int fd) {
  if (options.busy || (owner != -1 && owner != fd)) return false;
  owner = fd;
  return true;
}

int VirtualCamera::Ioctl(int fd, unsigned long fullRequest, void* arg) {
  // The kernel reads the request as 32 bits: a caller that passes it as an int hands over
  // the read requests (bit 31 set) sign-extended.
  const uint32_t request = uint32_t(fullRequest);
  std::lock_guard<std::mutex> hold(mutex);
  auto found = streams.find(fd);
  if (found == streams.end()) return -EBADF;
  if (found->second.unplugged) return -ENODEV;
  if (!arg) return -EFAULT;
  Stream& stream = found->second;
  switch (request) {
    case VIDIOC_QUERYCAP: {
      auto* caps = static_cast<v4l2_capability*>(arg);
      std::memset(caps, 0, sizeof *caps);
      CopyText(caps->driver, sizeof caps->driver, "tesmo_v4l2");
      CopyText(caps->card, sizeof caps->card, options.name);
      CopyText(caps->bus_info, sizeof caps->bus_info, "platform:tesmo-v4l2");
      caps->version = KERNEL_VERSION(6, 1, 0);
      caps->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_READWRITE;
      caps->capabilities = caps->device_caps | V4L2_CAP_DEVICE_CAPS;
      return 0;
    }
    case VIDIOC_ENUM_FMT: {
      auto* description = static_cast<v4l2_fmtdesc*>(arg);
      if (description->type != V4L2_BUF_TYPE_VIDEO_CAPTURE ||
          description->index >= options.formats.size())
        return -EINVAL;
      const uint32_t index = description->index;
      std::memset(description, 0, sizeof *description);
      description->index = index;
      description->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      description->pixelformat = options.formats[index];
      CopyText(description->description, sizeof description->description,
               options.formats[index] == V4L2_PIX_FMT_BGR24 ? "24-bit BGR 8-8-8" : "YUYV 4:2:2");
      return 0;
    }
    case VIDIOC_G_FMT: {
      auto* format = static_cast<v4l2_format*>(arg);
      if (format->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
      std::memset(&format->fmt, 0, sizeof format->fmt);
      format->fmt.pix.pixelformat = stream.pixelFormat;
      format->fmt.pix.width = stream.width;
      format->fmt.pix.height = stream.height;
      Adjust(format->fmt.pix);
      return 0;
    }
    case VIDIOC_TRY_FMT:
    case VIDIOC_S_FMT: {
      auto* format = static_cast<v4l2_format*>(arg);
      if (format->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
      Adjust(format->fmt.pix);
      if (request == VIDIOC_TRY_FMT) return 0;
      if (!ClaimLocked(fd)) return -EBUSY;
      if (stream.reading &&
          (format->fmt.pix.pixelformat != stream.pixelFormat ||
           format->fmt.pix.width != stream.width || format->fmt.pix.height != stream.height))
        return -EBUSY;  // a driver refuses a new format while it streams
      stream.pixelFormat = format->fmt.pix.pixelformat;
      stream.width = format->fmt.pix.width;
      stream.height = format->fmt.pix.height;
      return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
      auto* size = static_cast<v4l2_frmsizeenum*>(arg);
      if (!Offers(size->pixel_format) || size->index >= options.sizes.size()) return -EINVAL;
      size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
      size->discrete.width = options.sizes[size->index].width;
      size->discrete.height = options.sizes[size->index].height;
      std::memset(size->reserved, 0, sizeof size->reserved);
      return 0;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
      auto* interval = static_cast<v4l2_frmivalenum*>(arg);
      if (!Offers(interval->pixel_format) || !OffersSize(interval->width, interval->height) ||
          interval->index != 0)
        return -EINVAL;
      interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
      interval->discrete.numerator = 1;
      interval->discrete.denominator = options.framesPerSecond;
      std::memset(interval->reserved, 0, sizeof interval->reserved);
      return 0;
    }
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: {
      // One rate only: S_PARM answers with it whatever was asked.
      auto* parameters = static_cast<v4l2_streamparm*>(arg);
      if (parameters->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
      std::memset(&parameters->parm, 0, sizeof parameters->parm);
      parameters->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
      parameters->parm.capture.timeperframe.numerator = 1;
      parameters->parm.capture.timeperframe.denominator = options.framesPerSecond;
      parameters->parm.capture.readbuffers = 2;
      return 0;
    }
    case VIDIOC_ENUMINPUT: {
      auto* input = static_cast<v4l2_input*>(arg);
      if (input->index != 0) return -EINVAL;
      std::memset(input, 0, sizeof *input);
      CopyText(input->name, sizeof input->name, "Camera");
      input->type = V4L2_INPUT_TYPE_CAMERA;
      return 0;
    }
    case VIDIOC_G_INPUT: *static_cast<int*>(arg) = 0; return 0;
    case VIDIOC_S_INPUT: return *static_cast<int*>(arg) == 0 ? 0 : -EINVAL;
    case VIDIOC_QUERYCTRL:
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL: return ControlIoctl(request, arg);
    default: return -ENOTTY;
  }
}

int VirtualCamera::ControlIoctl(uint32_t request, void* arg) {
  if (request == VIDIOC_QUERYCTRL) {
    auto* query = static_cast<v4l2_queryctrl*>(arg);
    const ControlRange* control = nullptr;
    if (query->id & V4L2_CTRL_FLAG_NEXT_CTRL) {
      const uint32_t after = query->id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
      for (const auto& candidate : kControls)  // in id order
        if (candidate.id > after) {
          control = &candidate;
          break;
        }
    } else {
      control = FindControl(query->id);
    }
    if (!control) return -EINVAL;
    std::memset(query, 0, sizeof *query);
    query->id = control->id;
    query->type = V4L2_CTRL_TYPE_INTEGER;
    CopyText(query->name, sizeof query->name, control->name);
    query->minimum = control->minimum;
    query->maximum = control->maximum;
    query->step = control->step;
    query->default_value = control->defaultValue;
    return 0;
  }
  auto* value = static_cast<v4l2_control*>(arg);
  const ControlRange* control = FindControl(value->id);
  if (!control) return -EINVAL;
  if (request == VIDIOC_G_CTRL) {
    value->value = controls[control->id];
    return 0;
  }
  if (value->value < control->minimum || value->value > control->maximum) return -ERANGE;
  // As the kernel's control framework does: a value between two steps goes to the nearer.
  const int32_t steps = (value->value - control->minimum + control->step / 2) / control->step;
  value->value = std::min(control->minimum + steps * control->step, control->maximum);
  controls[control->id] = value->value;
  return 0;
}

const char* VirtualCamera::ControlName(uint32_t id) {
  const ControlRange* control = FindControl(id);
  return control ? control->name : "?";
}


VirtualCamera::Clock::duration VirtualCamera::Interval() const {
  return std::chrono::duration_cast<Clock::duration>(
             std::chrono::nanoseconds(1000000000ull / options.framesPerSecond)) +
         std::chrono::milliseconds(options.slowMs);
}

int64_t VirtualCamera::DueNumber(const Stream& stream, Clock::time_point now) const {
  return (now - stream.start) / Interval();
}

long VirtualCamera::Read(int fd, void* buffer, size_t size, Clock::time_point now) {
  std::lock_guard<std::mutex> hold(mutex);
  auto found = streams.find(fd);
  if (found == streams.end()) return -EBADF;
  if (found->second.unplugged) return -ENODEV;
  Stream& stream = found->second;
  if (!ClaimLocked(fd)) return -EBUSY;
  if (!stream.reading) {
    stream.reading = true;
    stream.start = now;
  } else if (now - stream.lastAttempt > 10 * Interval()) {
    // Nobody read for a while (a stopped graph): the stream paused; the next frame is due now.
    stream.start = now - (stream.lastNumber + 1) * Interval();
    ++stream.pauses;
  }
  stream.lastAttempt = now;
  const int64_t due = std::max<int64_t>(DueNumber(stream, now), 0);
  stream.framesProduced = uint64_t(std::max(due, stream.lastNumber)) + 1;
  if (due <= stream.lastNumber) return -EAGAIN;
  const size_t frameBytes = FrameBytes(stream.pixelFormat, stream.width, stream.height);
  std::vector<uint8_t> frame(frameBytes);
  // Brightness moves every bar's level by its distance from the default (0).
  DrawFrame(stream.pixelFormat, stream.width, stream.height, uint32_t(due), frame.data(),
            controls[V4L2_CID_BRIGHTNESS]);
  const size_t copied = std::min(size, frameBytes);
  std::memcpy(buffer, frame.data(), copied);
  if (stream.firstNumber < 0) stream.firstNumber = due;
  stream.lastNumber = due;
  ++stream.framesRead;
  if (options.vanishAfterFrames && !vanishedOnce && ++framesReadTotal >= options.vanishAfterFrames)
    VanishLocked(now);
  return long(copied);
}

VirtualCamera::Clock::duration VirtualCamera::UntilNextFrame(int fd, Clock::time_point now) const {
  std::lock_guard<std::mutex> hold(mutex);
  auto found = streams.find(fd);
  if (found == streams.end() || !found->second.reading) return Clock::duration::zero();
  const Stream& stream = found->second;
  const auto next = stream.start + (stream.lastNumber + 1) * Interval();
  return next > now ? next - now : Clock::duration::zero();
}

std::string VirtualCamera::Close(int fd) {
  std::lock_guard<std::mutex> hold(mutex);
  auto found = streams.find(fd);
  if (found == streams.end()) return "";
  const Stream stream = std::move(found->second);
  streams.erase(found);
  if (owner == fd) owner = -1;
  if (!stream.reading || stream.framesRead == 0) return "";
  char line[200];
  std::snprintf(
      line, sizeof line,
      "v4l2 camera stream %ux%u %s: frames read %llu of %llu produced, numbers %lld..%lld, "
      "pauses %llu",
      stream.width, stream.height, FormatName(stream.pixelFormat),
      (unsigned long long)stream.framesRead, (unsigned long long)stream.framesProduced,
      (long long)stream.firstNumber, (long long)stream.lastNumber,
      (unsigned long long)stream.pauses);
  return line;
}

}  // namespace v4l2camera
