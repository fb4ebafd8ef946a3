#include "common/Mixer.h"

namespace tesmo {

MMRESULT WinmmMixer::Open(HMIXER* mixer, UINT mixerId, DWORD_PTR callback, DWORD_PTR instance,
                          DWORD flags) {
  return mixerOpen(mixer, mixerId, callback, instance, flags);
}

MMRESULT WinmmMixer::GetLineInfoA(HMIXEROBJ mixer, MIXERLINEA* line, DWORD flags) {
  return mixerGetLineInfoA(mixer, line, flags);
}

MMRESULT WinmmMixer::GetLineControlsA(HMIXEROBJ mixer, MIXERLINECONTROLSA* controls, DWORD flags) {
  return mixerGetLineControlsA(mixer, controls, flags);
}

MMRESULT WinmmMixer::GetControlDetailsA(HMIXEROBJ mixer, MIXERCONTROLDETAILS* details,
                                        DWORD flags) {
  return mixerGetControlDetailsA(mixer, details, flags);
}

MMRESULT WinmmMixer::SetControlDetails(HMIXEROBJ mixer, MIXERCONTROLDETAILS* details, DWORD flags) {
  return mixerSetControlDetails(mixer, details, flags);
}

MMRESULT WinmmMixer::Close(HMIXER mixer) { return mixerClose(mixer); }

MMRESULT WinmmMixer::GetId(HMIXEROBJ object, UINT* mixerId, DWORD flags) {
  return mixerGetID(object, mixerId, flags);
}

OpenedMixer::OpenedMixer(MixerApi& api, UINT mixerId) : api(api) {
  // No callback, no instance data: the level operations only query and set.
  opened = api.Open(&handle, mixerId, 0, 0, 0) == MMSYSERR_NOERROR;
}

OpenedMixer::~OpenedMixer() {
  if (opened) api.Close(handle);  // result deliberately ignored: nothing left to undo
}

}  // namespace tesmo
