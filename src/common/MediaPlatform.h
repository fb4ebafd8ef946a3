// The DirectShow, COM and OLE declarations the capture objects use, in one place.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <olectl.h>
#include <qedit.h>

// Defined in the strmiids library but declared in no mingw-w64 header.
extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;
