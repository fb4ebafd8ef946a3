#include "video/PreviewPainter.h"

namespace tesmo {

std::shared_ptr<PreviewPainter> PreviewPainter::Create(HWND owner, const FrameFormat& frames,
                                                       int width, int height) {
  std::shared_ptr<PreviewPainter> painter(new PreviewPainter());
  if (!owner || !painter->toRgb32.Configure(frames, PixelFormat::Rgb32)) return nullptr;
  // A static control paints only its background, which each frame then covers.
  painter->window = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BLACKRECT, 0, 0,
                                    width, height, owner, nullptr, GetModuleHandleW(nullptr),
                                    nullptr);
  if (!painter->window) return nullptr;
  painter->width = width;
  painter->height = height;
  return painter;
}

PreviewPainter::~PreviewPainter() = default;

void PreviewPainter::Close() {
  HWND closing;
  {
    ScopedLock hold(paintLock);
    closing = window;
    window = nullptr;
  }
  if (closing) DestroyWindow(closing);
}

void PreviewPainter::Show(const unsigned char* frame, int32_t length) {
  if (length != toRgb32.SourceBytes()) return;
  picture.resize(static_cast<size_t>(toRgb32.TargetBytes()));
  toRgb32.Convert(frame, picture.data());
  ScopedLock hold(paintLock);
  if (!window) return;
  HDC context = GetDC(window);
  if (!context) return;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = toRgb32.Width();
  info.bmiHeader.biHeight = toRgb32.Height();  // bottom-up, as converted
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  SetStretchBltMode(context, HALFTONE);
  StretchDIBits(context, 0, 0, width, height, 0, 0, toRgb32.Width(), toRgb32.Height(),
                picture.data(), &info, DIB_RGB_COLORS, SRCCOPY);
  ReleaseDC(window, context);
}

}  // namespace tesmo
