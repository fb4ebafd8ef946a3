// Access to the system's audio mixers: the seven winmm calls the level operations use,
// behind one small interface so that tests can stand a mixer of their own behind
// them. Nothing but plumbing lives here.
#pragma once

#include <windows.h>
#include <mmsystem.h>

namespace tesmo {

class MixerApi {
public:
  virtual ~MixerApi() = default;
  virtual MMRESULT Open(HMIXER* mixer, UINT mixerId, DWORD_PTR callback, DWORD_PTR instance,
                        DWORD flags) = 0;
  virtual MMRESULT GetLineInfoA(HMIXEROBJ mixer, MIXERLINEA* line, DWORD flags) = 0;
  virtual MMRESULT GetLineControlsA(HMIXEROBJ mixer, MIXERLINECONTROLSA* controls, DWORD flags) = 0;
  virtual MMRESULT GetControlDetailsA(HMIXEROBJ mixer, MIXERCONTROLDETAILS* details,
                                      DWORD flags) = 0;
  virtual MMRESULT SetControlDetails(HMIXEROBJ mixer, MIXERCONTROLDETAILS* details,
                                     DWORD flags) = 0;
  virtual MMRESULT Close(HMIXER mixer) = 0;
  // The number of the mixer that belongs to a device (e.g. a wave-in device number with
  // MIXER_OBJECTF_WAVEIN).
  virtual MMRESULT GetId(HMIXEROBJ object, UINT* mixerId, DWORD flags) = 0;
};

// The system mixer through winmm.
class WinmmMixer final : public MixerApi {
public:
  MMRESULT Open(HMIXER* mixer, UINT mixerId, DWORD_PTR callback, DWORD_PTR instance,
                DWORD flags) override;
  MMRESULT GetLineInfoA(HMIXEROBJ mixer, MIXERLINEA* line, DWORD flags) override;
  MMRESULT GetLineControlsA(HMIXEROBJ mixer, MIXERLINECONTROLSA* controls, DWORD flags) override;
  MMRESULT GetControlDetailsA(HMIXEROBJ mixer, MIXERCONTROLDETAILS* details, DWORD flags) override;
  MMRESULT SetControlDetails(HMIXEROBJ mixer, MIXERCONTROLDETAILS* details, DWORD flags) override;
  MMRESULT Close(HMIXER mixer) override;
  MMRESULT GetId(HMIXEROBJ object, UINT* mixerId, DWORD flags) override;
};

// One opened mixer device, closed when the holder goes out of scope. Invalid when
// the device could not be opened; then nothing is closed.
class OpenedMixer {
public:
  OpenedMixer(MixerApi& api, UINT mixerId);
  ~OpenedMixer();
  OpenedMixer(const OpenedMixer&) = delete;
  OpenedMixer& operator=(const OpenedMixer&) = delete;

  bool IsValid() const { return opened; }
  // The handle as the query calls take it (with MIXER_OBJECTF_HMIXER).
  HMIXEROBJ Object() const { return reinterpret_cast<HMIXEROBJ>(handle); }

private:
  MixerApi& api;
  HMIXER handle = nullptr;
  bool opened = false;
};

}  // namespace tesmo
