// The DirectShow, COM and OLE declarations the capture objects use, in one place.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <olectl.h>
#include <qedit.h>

// Defined in the strmiids library but declared in no mingw-w64 header.
extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;

// The FOURCC subtype "I420", which the mingw-w64 headers do not name.
inline const GUID kMediaSubtypeI420 = {0x30323449, 0x0000, 0x0010,
                                       {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
