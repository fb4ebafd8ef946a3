// The library's own preview, for a camera mode that no video renderer takes (and no
// converter of the system brings to one): a 240 x 180 child window of the host's
// window, at 0, 0, into which the delivery thread draws each frame that goes out,
// scaled, as RGB32 converted from the frames the host gets.
//
// Threads: made and closed on the host's thread (the window is that thread's);
// Show runs on the delivery thread and draws through the window's device context,
// which needs no message from the host's thread. paintLock keeps Close from
// destroying the window while a frame is being drawn into it.
#pragma once

#include <memory>
#include <vector>

#include "common/Kernel.h"
#include "common/MediaPlatform.h"
#include "video/VideoDelivery.h"

namespace tesmo {

class PreviewPainter final : public FrameViewer {
public:
  // Null when the window cannot be made or the frames' format cannot be shown.
  static std::shared_ptr<PreviewPainter> Create(HWND owner, const FrameFormat& frames, int width,
                                                int height);
  ~PreviewPainter();
  PreviewPainter(const PreviewPainter&) = delete;
  PreviewPainter& operator=(const PreviewPainter&) = delete;

  void Show(const unsigned char* frame, int32_t length) override;
  // On the host's thread: destroys the window; Show draws nothing from then on.
  void Close();

private:
  PreviewPainter() = default;

  RecursiveLock paintLock;
  HWND window = nullptr;
  FrameConverter toRgb32;
  std::vector<unsigned char> picture;  // the delivery thread's
  int width = 0, height = 0;
};

}  // namespace tesmo
