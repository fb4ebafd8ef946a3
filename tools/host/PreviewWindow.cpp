#include "PreviewWindow.h"

namespace {

const char kClassName[] = "TesmoCapturePreview";

LRESULT CALLBACK PreviewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

PreviewWindow::~PreviewWindow() {
  if (window) DestroyWindow(window);
}

bool PreviewWindow::Create(const char* title) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = PreviewProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
  windowClass.lpszClassName = kClassName;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  if (!RegisterClassA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  // Room for the 240 x 180 preview in the client area.
  RECT frame = {0, 0, 320, 240};
  AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
  window = CreateWindowA(kClassName, title, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                         CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                         nullptr, windowClass.hInstance, nullptr);
  if (!window) return false;
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  return true;
}
