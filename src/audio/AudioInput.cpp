// Recording input selection (an input pin of the opened device, enabled through its
// IAMAudioInputMixer) and the recording level (the volume of the microphone or line
// source of a mixer's wave-in destination, or of that destination itself).
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>
#include <optional>
#include <vector>

#include "audio/AudioCapture.h"
#include "audio/InputNames.h"
#include "audio/RecordLevel.h"
#include "common/Kernel.h"

namespace tesmo {

static_assert(kSourceMicrophone == MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, "mixer source kind");
static_assert(kSourceLine == MIXERLINE_COMPONENTTYPE_SRC_LINE, "mixer source kind");

CaptureResult AudioCapture::SelectInput(const char* name) {
  if (!name || !*name)
    return failures.Refuse(kSlotSelectInput, "SelectInput was refused: a null or empty name.");
  // Longer requests cannot be any pin's name and would not fit the name buffers.
  if (strnlen(name, kInputNameLimit + 1) > kInputNameLimit)
    return failures.Refuse(kSlotSelectInput,
                           "SelectInput was refused: a name longer than %d bytes.",
                           static_cast<int>(kInputNameLimit));
  // Without a device there are no pins to search: refuse, and change nothing.
  ScopedHostLock operation(delivery->OperationLock());
  if (!opened || !sourceFilter)
    return failures.Refuse(kSlotSelectInput, "SelectInput: no audio device is open; Open one "
                                             "first.");

  const std::string request(name);
  // The kind is kept even when no pin matches: the level operations follow it.
  if (request == "mic" || request == "line") inputName = request;
  for (const std::string& candidate : InputCandidates(request))
    if (EnableInputPin(candidate)) return kCaptureDone;
  return failures.Refuse(kSlotSelectInput,
                         "SelectInput: the audio device has no input \"%s\" that it would "
                         "enable (ListInputs lists its inputs).",
                         name);
}

bool AudioCapture::EnableInputPin(const std::string& candidate) {
  if (candidate.empty() || !sourceFilter) return false;
  ComPtr<IEnumPins> pins;
  if (sourceFilter->EnumPins(&pins) != S_OK || !pins) return false;
  ComPtr<IPin> pin;
  while (pins->Next(1, &pin, nullptr) == S_OK && pin) {
    // Result ignored: a pin that cannot say its direction keeps a value that is not
    // PINDIR_INPUT, and output pins are never considered.
    auto direction = static_cast<PIN_DIRECTION>(-1);
    pin->QueryDirection(&direction);
    if (direction != PINDIR_INPUT) continue;
    PIN_INFO info;
    if (pin->QueryPinInfo(&info) != S_OK) continue;
    if (info.pFilter) info.pFilter->Release();
    const int length = static_cast<int>(wcsnlen(info.achName, MAX_PIN_NAME));
    char converted[kInputNameLimit + 1];
    const int bytes = WideToAnsi(reinterpret_cast<const char16_t*>(info.achName), length, converted,
                                 kInputNameLimit);
    if (bytes <= 0 || !InputNameMatches(std::string(converted, bytes), candidate)) continue;
    // The first pin of that name decides: if it cannot be enabled, this candidate fails.
    ComPtr<IAMAudioInputMixer> mixer;
    return pin.As(mixer, IID_IAMAudioInputMixer) && mixer->put_Enable(TRUE) == S_OK;
  }
  return false;
}

namespace {

// The line the level operations address and its volume control, with the current
// channel values, found on an opened mixer.
struct VolumeLine {
  MIXERLINEA line;
  MIXERCONTROLA control;
  std::vector<DWORD> values;
  bool valuesRead = false;
};

enum class Lookup { Found, NoControl, NoDestination, Failed };

// Every query names the opened handle as a handle (MIXER_OBJECTF_HMIXER), so winmm
// never mistakes it for a device number.
bool FindWaveInDestination(MixerApi& api, const OpenedMixer& mixer, MIXERLINEA& line) {
  line = MIXERLINEA{};
  line.cbStruct = sizeof line;
  line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
  return api.GetLineInfoA(mixer.Object(), &line,
                          MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_COMPONENTTYPE) ==
         MMSYSERR_NOERROR;
}

// From the wave-in destination in `line` to its first source of the wanted kind, else
// its last source; it stays when it has no sources.
void PickSource(MixerApi& api, const OpenedMixer& mixer, uint32_t sourceKind, MIXERLINEA& line) {
  const DWORD sources = line.cConnections;
  for (DWORD index = 0; index < sources; ++index) {
    // Each source is queried into a copy, so a failed query never leaves a half-filled
    // line behind: the last source examined is the last one the mixer described.
    MIXERLINEA source = line;
    source.dwSource = index;
    if (api.GetLineInfoA(mixer.Object(), &source,
                         MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_SOURCE) != MMSYSERR_NOERROR)
      continue;
    line = source;
    if (line.dwComponentType == sourceKind) break;
  }
}

bool FindVolumeControl(MixerApi& api, const OpenedMixer& mixer, VolumeLine& found) {
  found.control = MIXERCONTROLA{};
  found.control.cbStruct = sizeof found.control;
  MIXERLINECONTROLSA query{};
  query.cbStruct = sizeof query;
  query.dwLineID = found.line.dwLineID;
  query.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
  query.cControls = 1;
  query.cbmxctrl = sizeof found.control;
  query.pamxctrl = &found.control;
  return api.GetLineControlsA(mixer.Object(), &query,
                              MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE) ==
         MMSYSERR_NOERROR;
}

// The volume to use on an opened mixer, and its current values. On mixer 0, the
// system's shared mixer of old, the wave-in destination's source of the wanted kind,
// else its last source, else the destination. Any other mixer belongs to one wave-in
// device, so its destination's own volume is that device's level and comes first; the
// sources are asked only when it has none (Wine 10 gives such a mixer a microphone
// source whose volume reads 0 and ignores what is set).
Lookup FindVolume(MixerApi& api, const OpenedMixer& mixer, bool sharedMixer, uint32_t sourceKind,
                  VolumeLine& found) {
  if (!FindWaveInDestination(api, mixer, found.line)) return Lookup::NoDestination;
  if (sharedMixer || !FindVolumeControl(api, mixer, found)) {
    PickSource(api, mixer, sourceKind, found.line);
    if (!FindVolumeControl(api, mixer, found)) return Lookup::NoControl;
  }

  // A uniform control holds one value for all channels.
  const DWORD channels =
      (found.control.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : found.line.cChannels;
  if (channels == 0) return Lookup::Failed;  // nothing a level could be read from
  found.values.assign(channels, 0);
  MIXERCONTROLDETAILS details{};
  details.cbStruct = sizeof details;
  details.dwControlID = found.control.dwControlID;
  details.cChannels = channels;
  details.cMultipleItems = 0;
  details.cbDetails = sizeof(MIXERCONTROLDETAILS_UNSIGNED);
  details.paDetails = found.values.data();
  found.valuesRead = api.GetControlDetailsA(
                         mixer.Object(), &details,
                         MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE) == MMSYSERR_NOERROR;
  return Lookup::Found;
}

uint32_t ChannelSpan(const MIXERCONTROLA& control) {
  return control.Bounds.dwMinimum + control.Bounds.dwMaximum;  // a 32-bit sum, as the mixer's
}

// The mixer that belongs to a wave-in device, if winmm names one.
std::optional<UINT> MixerOfWaveIn(MixerApi& api, UINT waveInId) {
  UINT mixerId = 0;
  if (api.GetId(reinterpret_cast<HMIXEROBJ>(static_cast<UINT_PTR>(waveInId)), &mixerId,
                MIXER_OBJECTF_WAVEIN) != MMSYSERR_NOERROR)
    return std::nullopt;
  return mixerId;
}

// Opens one mixer and finds the recording source's volume control, then hands both
// to `action`. Empty when the mixer cannot be opened or has no wave-in destination,
// so that the next one is tried; a source without a volume control ends with 0,
// untouched, other failures with 255.
template <class Action>
std::optional<CaptureResult> WithVolumeOn(MixerApi& api, UINT mixerId, uint32_t sourceKind,
                                          Action& action) {
  OpenedMixer mixer(api, mixerId);
  if (!mixer.IsValid()) return std::nullopt;
  VolumeLine found;
  switch (FindVolume(api, mixer, mixerId == 0, sourceKind, found)) {
    case Lookup::NoDestination: return std::nullopt;
    case Lookup::Failed: return kCaptureFailed;
    case Lookup::NoControl: return kCaptureDone;
    case Lookup::Found: break;
  }
  return action(mixer, found);
}

// The first mixer with a wave-in destination, in this order: the capture device's own
// (today's stacks have one mixer per endpoint, and mixer 0 is a playback one), mixer 0,
// the mixer of wave-in device 0. 255 when none has one.
template <class Action>
CaptureResult WithRecordingVolume(MixerApi& api, const LevelTarget& target, Action action) {
  try {
    std::vector<UINT> tried;
    std::optional<CaptureResult> result;
    auto attempt = [&](std::optional<UINT> mixerId) {
      if (result || !mixerId || std::find(tried.begin(), tried.end(), *mixerId) != tried.end())
        return;
      tried.push_back(*mixerId);
      result = WithVolumeOn(api, *mixerId, target.sourceKind, action);
    };
    if (target.waveInId) attempt(MixerOfWaveIn(api, *target.waveInId));
    attempt(0u);
    // Looked up only when needed, so a mixer 0 with a recording destination is all
    // that is asked of the system.
    if (!result) attempt(MixerOfWaveIn(api, 0));
    return result.value_or(kCaptureFailed);
  } catch (const std::bad_alloc&) {
    return kCaptureFailed;  // a line claiming more channels than memory holds
  }
}

}  // namespace

CaptureResult ReadMixerLevel(MixerApi& api, std::optional<float>& level,
                             const LevelTarget& target) {
  return WithRecordingVolume(api, target, [&](OpenedMixer&, VolumeLine& found) {
    if (!found.valuesRead) return kCaptureDone;  // never report a level that was not read
    float read = 0;
    if (!LevelFromChannels(found.values.front(), found.values.back(), ChannelSpan(found.control),
                           read))
      return kCaptureFailed;
    level = read;
    return kCaptureDone;
  });
}

CaptureResult WriteMixerLevel(MixerApi& api, float level, const LevelTarget& target) {
  return WithRecordingVolume(api, target, [&](OpenedMixer& mixer, VolumeLine& found) {
    // The channels between the first and the last are written back as read; without
    // the read they would be overwritten with made-up values.
    if (!found.valuesRead) return kCaptureDone;
    const DWORD value = ChannelValueForLevel(level, ChannelSpan(found.control));
    found.values.front() = value;
    found.values.back() = value;
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof details;
    details.dwControlID = found.control.dwControlID;
    details.cChannels = static_cast<DWORD>(found.values.size());
    details.cMultipleItems = 0;
    details.cbDetails = sizeof(MIXERCONTROLDETAILS_UNSIGNED);
    details.paDetails = found.values.data();
    // Result deliberately ignored: the host is not told whether the mixer took it.
    api.SetControlDetails(mixer.Object(), &details,
                          MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE);
    return kCaptureDone;
  });
}

LevelTarget AudioCapture::CurrentLevelTarget() {
  // The delivery thread may close the object meanwhile (device lost), and SelectInput
  // may change the kind: both under the operation lock. The mixer calls, which may
  // wait for the sound system, run outside it.
  ScopedHostLock operation(delivery->OperationLock());
  return {RecordSourceKind(inputName), opened ? waveInId : std::nullopt};
}

CaptureResult AudioCapture::GetRecordLevel(int* percent) {
  if (!percent)
    return failures.Refuse(kSlotGetRecordLevel, "GetRecordLevel was refused: a null pointer.");
  std::optional<float> level;
  const CaptureResult result = ReadMixerLevel(*mixers, level, CurrentLevelTarget());
  // Only a level the mixer actually reported reaches the host's integer.
  if (level) *percent = PercentFromLevel(*level);
  return LevelResult(kSlotGetRecordLevel, result);
}

CaptureResult AudioCapture::SetRecordLevel(int percent) {
  return LevelResult(kSlotSetRecordLevel, WriteMixerLevel(*mixers, static_cast<float>(percent),
                                                          CurrentLevelTarget()));
}

CaptureResult AudioCapture::LevelResult(int slot, CaptureResult result) {
  if (result != kCaptureFailed) return result;
  // The mixer calls answer MMRESULTs, no HRESULT: the cause says what is missing.
  failures.Note(slot, kCauseNoSuchDevice, 0,
                "No mixer with a recording volume answered (the device's own, mixer 0, wave-in "
                "device 0's): the system has no mixer line for this input.");
  return kCaptureFailed;
}

}  // namespace tesmo
