#include "WaveInMixers.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <string>

namespace {

// The component types of the destination's source lines, as "; sources 0x1003 ...".
std::string SourceTypes(HMIXEROBJ object, const MIXERLINEA& destination) {
  std::string text = "; sources";
  if (destination.cConnections == 0) text += " none";
  for (DWORD index = 0; index < destination.cConnections; ++index) {
    MIXERLINEA source = destination;
    source.dwSource = index;
    char type[16] = " ?";
    if (mixerGetLineInfoA(object, &source, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_SOURCE) ==
        MMSYSERR_NOERROR)
      std::snprintf(type, sizeof type, " 0x%lx",
                    static_cast<unsigned long>(source.dwComponentType));
    text += type;
  }
  return text;
}

// "value V of MIN..MAX" for the wave-in destination's volume of an opened mixer, or what
// was missing.
std::string WaveInVolume(HMIXER mixer) {
  const auto object = reinterpret_cast<HMIXEROBJ>(mixer);
  MIXERLINEA line{};
  line.cbStruct = sizeof line;
  line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
  if (mixerGetLineInfoA(object, &line, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_COMPONENTTYPE) !=
      MMSYSERR_NOERROR)
    return "no wave-in destination";
  MIXERCONTROLA control{};
  control.cbStruct = sizeof control;
  MIXERLINECONTROLSA controls{};
  controls.cbStruct = sizeof controls;
  controls.dwLineID = line.dwLineID;
  controls.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
  controls.cControls = 1;
  controls.cbmxctrl = sizeof control;
  controls.pamxctrl = &control;
  if (mixerGetLineControlsA(object, &controls,
                            MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE) !=
      MMSYSERR_NOERROR)
    return "no volume on the wave-in destination";
  MIXERCONTROLDETAILS_UNSIGNED values[8] = {};  // one per channel; the first is shown
  MIXERCONTROLDETAILS details{};
  details.cbStruct = sizeof details;
  details.dwControlID = control.dwControlID;
  details.cChannels = (control.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : line.cChannels;
  if (details.cChannels == 0 || details.cChannels > 8) return "an unexpected channel count";
  details.cbDetails = sizeof values[0];
  details.paDetails = values;
  if (mixerGetControlDetailsA(object, &details,
                              MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE) !=
      MMSYSERR_NOERROR)
    return "the volume cannot be read";
  char text[96];
  std::snprintf(text, sizeof text, "value %lu of %lu..%lu, %lu channel(s)",
                static_cast<unsigned long>(values[0].dwValue),
                static_cast<unsigned long>(control.Bounds.dwMinimum),
                static_cast<unsigned long>(control.Bounds.dwMaximum),
                static_cast<unsigned long>(details.cChannels));
  return text + SourceTypes(object, line);
}

}  // namespace

void PrintWaveInMixers(const char* label) {
  const UINT devices = waveInGetNumDevs();
  std::printf("%s: %u wave-in device(s), %u mixer(s)\n", label, devices, mixerGetNumDevs());
  for (UINT waveIn = 0; waveIn < devices; ++waveIn) {
    WAVEINCAPSA caps{};
    waveInGetDevCapsA(waveIn, &caps, sizeof caps);  // an empty name if it fails
    UINT mixerId = 0;
    if (mixerGetID(reinterpret_cast<HMIXEROBJ>(static_cast<UINT_PTR>(waveIn)), &mixerId,
                   MIXER_OBJECTF_WAVEIN) != MMSYSERR_NOERROR) {
      std::printf("%s:   wave-in %u \"%s\": no mixer\n", label, waveIn, caps.szPname);
      continue;
    }
    MIXERCAPSA mixerCaps{};
    mixerGetDevCapsA(mixerId, &mixerCaps, sizeof mixerCaps);
    HMIXER mixer = nullptr;
    std::string volume = "cannot be opened";
    if (mixerOpen(&mixer, mixerId, 0, 0, 0) == MMSYSERR_NOERROR) {
      volume = WaveInVolume(mixer);
      mixerClose(mixer);
    }
    std::printf("%s:   wave-in %u \"%s\": mixer %u \"%s\", %s\n", label, waveIn, caps.szPname,
                mixerId, mixerCaps.szPname, volume.c_str());
  }
}
