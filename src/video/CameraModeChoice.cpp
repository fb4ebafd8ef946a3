#include "video/CameraModeChoice.h"

#include <tuple>

namespace tesmo {

namespace {

bool InRange(int32_t value, int32_t low, int32_t high, int32_t step) {
  if (value < low || value > high) return false;
  return step <= 1 || (value - low) % step == 0;
}

bool IsYuv(PixelFormat format) {
  switch (format) {
    case PixelFormat::Yuy2:
    case PixelFormat::Uyvy:
    case PixelFormat::Nv12:
    case PixelFormat::I420:
    case PixelFormat::Yv12: return true;
    default: return false;
  }
}

// `value` brought into low..high, on the steps from low.
int32_t Nearest(int32_t value, int32_t low, int32_t high, int32_t step) {
  if (value <= low) return low;
  if (value >= high) return high;
  return step <= 1 ? value : low + (value - low) / step * step;
}

// 0 the wanted format itself, 1 uncompressed YUV, 2 another RGB, 3 MJPG.
int FormatRank(const CameraMode& mode, std::optional<PixelFormat> wanted) {
  if (!mode.format) return 3;
  if (wanted && *mode.format == *wanted) return 0;
  return IsYuv(*mode.format) ? 1 : 2;
}

}  // namespace

bool CameraMode::Offers(int32_t width, int32_t height) const {
  return InRange(width, minWidth, maxWidth, widthStep) &&
         InRange(height, minHeight, maxHeight, heightStep);
}

void CameraMode::PictureFor(int32_t width, int32_t height, int32_t& modeWidth,
                            int32_t& modeHeight) const {
  modeWidth = Nearest(width, minWidth, maxWidth, widthStep);
  modeHeight = Nearest(height, minHeight, maxHeight, heightStep);
}

bool CameraMode::ReachesThirtyFrames() const {
  // A mode that names no interval is taken at its word; 29.97 fps counts as 30.
  return minInterval <= 0 || minInterval <= kThirtyFramesInterval + 1000;
}

int64_t CameraMode::IntervalFor30() const {
  if (minInterval <= 0 || maxInterval < minInterval) return 0;
  if (kThirtyFramesInterval < minInterval) return minInterval;
  if (kThirtyFramesInterval > maxInterval) return maxInterval;
  return kThirtyFramesInterval;
}

int ChooseCameraMode(const std::vector<CameraMode>& modes, int32_t width, int32_t height,
                     std::optional<PixelFormat> wanted) {
  if (wanted && TargetFrameBytes(*wanted, width, height) < 0) return -1;
  int best = -1;
  std::tuple<int, int, int, int64_t, int, int> bestKey;
  for (int i = 0; i < static_cast<int>(modes.size()); ++i) {
    const CameraMode& mode = modes[static_cast<size_t>(i)];
    if (!mode.Usable(wanted)) continue;
    const bool exact = mode.Offers(width, height);
    if (!exact && !wanted) continue;  // the camera's own frames cannot be scaled
    int32_t modeWidth = 0, modeHeight = 0;
    mode.PictureFor(width, height, modeWidth, modeHeight);
    if (modeWidth <= 0 || modeHeight <= 0) continue;
    // Exact sizes first, in the order above; then the crop-and-scale candidates.
    const CropRect crop = CentreCrop(modeWidth, modeHeight, width, height);
    const bool covers = crop.width >= width && crop.height >= height;
    const int64_t area = int64_t{modeWidth} * modeHeight;
    const auto key = std::make_tuple(exact ? 0 : 1, mode.ReachesThirtyFrames() ? 0 : 1,
                                     exact || covers ? 0 : 1,
                                     exact ? 0 : covers ? area : -area,
                                     FormatRank(mode, wanted), mode.videoInfo2 ? 1 : 0);
    // Strictly better only: among equals the camera's own order stands.
    if (best < 0 || key < bestKey) {
      best = i;
      bestKey = key;
    }
  }
  return best;
}

}  // namespace tesmo
