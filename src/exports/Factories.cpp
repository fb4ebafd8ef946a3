#include "Tesmo.h"
#include "audio/AudioCapture.h"
#include "video/VideoCapture.h"

extern "C" TESMO_API AudioSourceCapture* CreateASC() { return tesmo::AudioCapture::Create(); }

extern "C" TESMO_API VideoSourceCapture* CreateVSC() { return tesmo::VideoCapture::Create(); }
