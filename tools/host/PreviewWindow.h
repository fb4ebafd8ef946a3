// A plain top-level window for the library to place its video preview in.
#pragma once

#include <windows.h>

class PreviewWindow {
public:
  PreviewWindow() = default;
  ~PreviewWindow();
  PreviewWindow(const PreviewWindow&) = delete;
  PreviewWindow& operator=(const PreviewWindow&) = delete;

  bool Create(const char* title);
  HWND Handle() const { return window; }

private:
  HWND window = nullptr;
};
