#include "Tesmo.h"
#include "audio/AudioCapture.h"

extern "C" TESMO_API AudioSourceCapture* CreateASC() { return tesmo::AudioCapture::Create(); }
