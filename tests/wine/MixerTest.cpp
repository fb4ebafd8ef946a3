// The recording level against a test mixer standing behind the six mixer calls,
// the real winmm mixer of this machine, and the source kind that input selection
// leaves for the level operations.
#include <windows.h>
#include <mmsystem.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "TestDeviceControl.h"
#include "audio/AudioCapture.h"
#include "audio/RecordLevel.h"
#include "common/Mixer.h"

using namespace tesmo;

namespace {

struct TestLine {
  DWORD componentType = 0;
  DWORD channels = 2;
  bool volume = true;    // has a volume control
  bool uniform = false;  // MIXERCONTROL_CONTROLF_UNIFORM
  DWORD minimum = 0, maximum = 65535;
  std::vector<DWORD> values{0, 0};
  DWORD lineId = 0;  // filled in by the mixer
  int writes = 0;
};

struct TestDestination {
  TestLine line;
  std::vector<TestLine> sources;
};

// Models destinations with their sources, each line's channels and volume control.
// Every argument the level operations pass is checked; whatever a correct caller
// would never send lands in `errors`.
class TestMixer final : public MixerApi {
public:
  std::vector<TestDestination> destinations;
  std::set<std::string> failing;  // "Open", "Destination", "Source", "Controls", "Get", "Set"
  std::vector<std::string> errors;
  int opens = 0, closes = 0, calls = 0;

  // A wave-in destination with the given sources, and a speaker destination first,
  // so the right one has to be asked for by type.
  static TestMixer WithWaveIn(std::vector<TestLine> sources) {
    TestMixer mixer;
    mixer.destinations.push_back({Line(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS), {Line(0x1004)}});
    mixer.destinations.push_back({Line(MIXERLINE_COMPONENTTYPE_DST_WAVEIN), std::move(sources)});
    return mixer;
  }
  static TestLine Line(DWORD type, std::vector<DWORD> values = {0, 0}) {
    TestLine line;
    line.componentType = type;
    line.channels = static_cast<DWORD>(values.size());
    line.values = std::move(values);
    return line;
  }
  TestLine& WaveInSource(size_t k) { return destinations.at(1).sources.at(k); }
  TestLine& WaveIn() { return destinations.at(1).line; }

  MMRESULT Open(HMIXER* mixer, UINT id, DWORD_PTR callback, DWORD_PTR instance,
                DWORD flags) override {
    ++calls;
    if (id != 0 || callback || instance || flags) Error("Open arguments");
    if (failing.count("Open")) return MMSYSERR_BADDEVICEID;
    ++opens;
    *mixer = kHandle;
    return MMSYSERR_NOERROR;
  }

  MMRESULT GetLineInfoA(HMIXEROBJ object, MIXERLINEA* line, DWORD flags) override {
    CheckHandle(object, flags);
    if (line->cbStruct != sizeof(MIXERLINEA)) Error("MIXERLINEA size");
    const DWORD query = flags & MIXER_GETLINEINFOF_QUERYMASK;
    if (query == MIXER_GETLINEINFOF_COMPONENTTYPE) {
      if (failing.count("Destination")) return MIXERR_INVALLINE;
      for (DWORD d = 0; d < destinations.size(); ++d)
        if (destinations[d].line.componentType == line->dwComponentType) {
          Describe(destinations[d].line, d, 0, (d + 1) * 0x10000, *line);
          line->cConnections = static_cast<DWORD>(destinations[d].sources.size());
          return MMSYSERR_NOERROR;
        }
      return MIXERR_INVALLINE;
    }
    if (query == MIXER_GETLINEINFOF_SOURCE) {
      if (failing.count("Source")) {
        line->dwComponentType = 0xBAD;  // a failed query may leave anything behind
        return MMSYSERR_ERROR;
      }
      if (line->dwDestination >= destinations.size() ||
          line->dwSource >= destinations[line->dwDestination].sources.size()) {
        Error("source out of range");
        return MIXERR_INVALLINE;
      }
      Describe(destinations[line->dwDestination].sources[line->dwSource], line->dwDestination,
               line->dwSource, (line->dwDestination + 1) * 0x10000 + line->dwSource + 1, *line);
      return MMSYSERR_NOERROR;
    }
    Error("line query " + std::to_string(query));
    return MMSYSERR_INVALFLAG;
  }

  MMRESULT GetLineControlsA(HMIXEROBJ object, MIXERLINECONTROLSA* query, DWORD flags) override {
    CheckHandle(object, flags);
    if ((flags & MIXER_GETLINECONTROLSF_QUERYMASK) != MIXER_GETLINECONTROLSF_ONEBYTYPE ||
        query->cbStruct != sizeof(MIXERLINECONTROLSA) ||
        query->dwControlType != MIXERCONTROL_CONTROLTYPE_VOLUME || query->cControls != 1 ||
        query->cbmxctrl != sizeof(MIXERCONTROLA) || !query->pamxctrl)
      Error("line controls query");
    TestLine* line = Find(query->dwLineID);
    if (!line) Error("no such line " + std::to_string(query->dwLineID));
    if (!line || !line->volume || failing.count("Controls")) return MIXERR_INVALCONTROL;
    MIXERCONTROLA& control = *query->pamxctrl;
    control.cbStruct = sizeof control;
    control.dwControlID = line->lineId + 100;
    control.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
    control.fdwControl = line->uniform ? MIXERCONTROL_CONTROLF_UNIFORM : 0;
    control.Bounds.dwMinimum = line->minimum;
    control.Bounds.dwMaximum = line->maximum;
    return MMSYSERR_NOERROR;
  }

  MMRESULT GetControlDetailsA(HMIXEROBJ object, MIXERCONTROLDETAILS* details,
                              DWORD flags) override {
    CheckHandle(object, flags);
    if ((flags & MIXER_GETCONTROLDETAILSF_QUERYMASK) != MIXER_GETCONTROLDETAILSF_VALUE)
      Error("get flags");
    TestLine* line = CheckDetails(*details);
    if (!line || failing.count("Get")) return MIXERR_INVALCONTROL;
    auto* values = static_cast<DWORD*>(details->paDetails);
    for (DWORD c = 0; c < details->cChannels; ++c) values[c] = line->values[c];
    return MMSYSERR_NOERROR;
  }

  MMRESULT SetControlDetails(HMIXEROBJ object, MIXERCONTROLDETAILS* details, DWORD flags) override {
    CheckHandle(object, flags);
    if ((flags & MIXER_SETCONTROLDETAILSF_QUERYMASK) != MIXER_SETCONTROLDETAILSF_VALUE)
      Error("set flags");
    TestLine* line = CheckDetails(*details);
    if (!line || failing.count("Set")) return MIXERR_INVALCONTROL;
    const auto* values = static_cast<const DWORD*>(details->paDetails);
    for (DWORD c = 0; c < details->cChannels; ++c) line->values[c] = values[c];
    ++line->writes;
    return MMSYSERR_NOERROR;
  }

  MMRESULT Close(HMIXER mixer) override {
    ++calls;
    if (mixer != kHandle || closes >= opens) Error("Close without an open mixer");
    ++closes;
    return MMSYSERR_NOERROR;
  }

private:
  HMIXER const kHandle = reinterpret_cast<HMIXER>(static_cast<UINT_PTR>(0x4D1C));
  // The object-type bits of the flags (mingw-w64 declares no name for them).
  static constexpr DWORD kObjectTypeMask = 0xF0000000;

  void Error(const std::string& what) { errors.push_back(what); }

  void CheckHandle(HMIXEROBJ object, DWORD flags) {
    ++calls;
    if (closes >= opens) Error("call without an open mixer");
    if (object != reinterpret_cast<HMIXEROBJ>(kHandle) ||
        (flags & kObjectTypeMask) != MIXER_OBJECTF_HMIXER)
      Error("not the opened handle");
  }

  void Describe(TestLine& source, DWORD destination, DWORD index, DWORD lineId, MIXERLINEA& line) {
    source.lineId = lineId;
    line.dwDestination = destination;
    line.dwSource = index;
    line.dwLineID = source.lineId;
    line.dwComponentType = source.componentType;
    line.cChannels = source.channels;
    line.cConnections = 0;
    line.cControls = source.volume ? 1 : 0;
  }

  TestLine* Find(DWORD lineId) {
    for (auto& destination : destinations) {
      if (destination.line.lineId == lineId && lineId) return &destination.line;
      for (auto& source : destination.sources)
        if (source.lineId == lineId && lineId) return &source;
    }
    return nullptr;
  }

  TestLine* CheckDetails(const MIXERCONTROLDETAILS& details) {
    TestLine* line = details.dwControlID >= 100 ? Find(details.dwControlID - 100) : nullptr;
    if (!line) {
      Error("no such control");
      return nullptr;
    }
    const DWORD channels = line->uniform ? 1 : line->channels;
    if (details.cbStruct != sizeof(MIXERCONTROLDETAILS) || details.cMultipleItems != 0 ||
        details.cbDetails != sizeof(MIXERCONTROLDETAILS_UNSIGNED) || !details.paDetails ||
        details.cChannels != channels) {
      Error("control details");
      return nullptr;
    }
    return line;
  }
};

// The host's view: the whole percentage, or the sentinel when nothing was read.
int ReadPercent(TestMixer& mixer, uint32_t kind, CaptureResult expected = kCaptureDone) {
  std::optional<float> level;
  EXPECT_EQ(ReadMixerLevel(mixer, level, kind), expected);
  return level ? PercentFromLevel(*level) : -12345;
}

#define EXPECT_CLEAN(mixer)                                                          \
  do {                                                                               \
    EXPECT_EQ((mixer).opens, (mixer).closes) << "mixer left open";                   \
    EXPECT_TRUE((mixer).errors.empty()) << ::testing::PrintToString((mixer).errors); \
  } while (0)

}  // namespace

TEST(MixerLevel, WritesAndReadsTheVolumeWithTheHostsArithmetic) {
  TestMixer mixer = TestMixer::WithWaveIn({TestMixer::Line(kSourceLine, {65535, 65535})});
  EXPECT_EQ(ReadPercent(mixer, kSourceLine), 100);
  EXPECT_EQ(WriteMixerLevel(mixer, 100.0f, kSourceLine), kCaptureDone);
  EXPECT_EQ(mixer.WaveInSource(0).values, (std::vector<DWORD>{65534, 65534}));
  EXPECT_EQ(ReadPercent(mixer, kSourceLine), 99);
  EXPECT_EQ(WriteMixerLevel(mixer, 50.0f, kSourceLine), kCaptureDone);
  EXPECT_EQ(mixer.WaveInSource(0).values, (std::vector<DWORD>{32767, 32767}));
  EXPECT_EQ(ReadPercent(mixer, kSourceLine), 49);
  EXPECT_EQ(WriteMixerLevel(mixer, 0.0f, kSourceLine), kCaptureDone);
  EXPECT_EQ(mixer.WaveInSource(0).values, (std::vector<DWORD>{0, 0}));
  EXPECT_EQ(ReadPercent(mixer, kSourceLine), 0);
  EXPECT_EQ(mixer.WaveInSource(0).writes, 3);
  // Each operation opened the mixer once and closed it again.
  EXPECT_EQ(mixer.opens, 7);
  EXPECT_CLEAN(mixer);
}

TEST(MixerLevel, StereoAveragesFirstAndLastUniformUsesOneChannel) {
  TestMixer mixer = TestMixer::WithWaveIn({TestMixer::Line(kSourceLine, {20000, 40000})});
  EXPECT_EQ(ReadPercent(mixer, kSourceLine), 45);  // 30000 of 65535

  // Between the first and the last, channels are neither averaged nor written.
  mixer.WaveInSource(0) = TestMixer::Line(kSourceLine, {6553, 65535, 19660});
  EXPECT_EQ(ReadPercent(mixer, kSourceLine), 19);  // (6553 + 19660) / 2 of 65535
  EXPECT_EQ(WriteMixerLevel(mixer, 50.0f, kSourceLine), kCaptureDone);
  EXPECT_EQ(mixer.WaveInSource(0).values, (std::vector<DWORD>{32767, 65535, 32767}));

  // A uniform control is asked for one channel, whatever the line has.
  mixer.WaveInSource(0) = TestMixer::Line(kSourceLine, {13107, 60000});
  mixer.WaveInSource(0).uniform = true;
  EXPECT_EQ(ReadPercent(mixer, kSourceLine), 20);
  EXPECT_EQ(WriteMixerLevel(mixer, 100.0f, kSourceLine), kCaptureDone);
  EXPECT_EQ(mixer.WaveInSource(0).values, (std::vector<DWORD>{65534, 60000}));

  // The range is minimum plus maximum.
  mixer.WaveInSource(0) = TestMixer::Line(kSourceLine, {150, 150});
  mixer.WaveInSource(0).minimum = 100;
  mixer.WaveInSource(0).maximum = 200;
  EXPECT_EQ(ReadPercent(mixer, kSourceLine), 50);
  EXPECT_CLEAN(mixer);
}

TEST(MixerLevel, TheSourceIsTheWantedKindElseTheLastElseTheDestination) {
  TestMixer mixer = TestMixer::WithWaveIn({TestMixer::Line(kSourceLine, {6553, 6553}),
                                           TestMixer::Line(kSourceMicrophone, {32767, 32767}),
                                           TestMixer::Line(0x1005, {65535, 65535}),
                                           TestMixer::Line(kSourceMicrophone, {0, 0})});
  EXPECT_EQ(ReadPercent(mixer, kSourceMicrophone), 49);  // the first microphone
  EXPECT_EQ(ReadPercent(mixer, kSourceLine), 9);
  EXPECT_EQ(WriteMixerLevel(mixer, 100.0f, kSourceMicrophone), kCaptureDone);
  EXPECT_EQ(mixer.WaveInSource(1).writes, 1);
  EXPECT_EQ(mixer.WaveInSource(3).writes, 0);
  EXPECT_EQ(mixer.WaveInSource(0).writes, 0);

  // No source of the wanted kind: the last source.
  TestMixer noLine = TestMixer::WithWaveIn(
      {TestMixer::Line(kSourceMicrophone, {0, 0}), TestMixer::Line(0x1005, {65535, 65535})});
  EXPECT_EQ(ReadPercent(noLine, kSourceLine), 100);
  EXPECT_EQ(WriteMixerLevel(noLine, 50.0f, kSourceLine), kCaptureDone);
  EXPECT_EQ(noLine.WaveInSource(1).values, (std::vector<DWORD>{32767, 32767}));
  EXPECT_EQ(noLine.WaveInSource(0).values, (std::vector<DWORD>{0, 0}));

  // No sources at all: the destination line itself.
  TestMixer bare = TestMixer::WithWaveIn({});
  bare.WaveIn().values = {13107, 13107};
  EXPECT_EQ(ReadPercent(bare, kSourceMicrophone), 20);
  EXPECT_EQ(WriteMixerLevel(bare, 100.0f, kSourceMicrophone), kCaptureDone);
  EXPECT_EQ(bare.WaveIn().values, (std::vector<DWORD>{65534, 65534}));
  // The speaker destination's source is never touched.
  EXPECT_EQ(bare.destinations[0].sources[0].writes, 0);

  // Failed source queries are passed over, never used half-filled: the destination stays.
  TestMixer failing = TestMixer::WithWaveIn({TestMixer::Line(kSourceLine, {0, 0})});
  failing.WaveIn().values = {65535, 65535};
  failing.failing = {"Source"};
  EXPECT_EQ(ReadPercent(failing, kSourceLine), 100);
  EXPECT_CLEAN(mixer);
  EXPECT_CLEAN(noLine);
  EXPECT_CLEAN(bare);
  EXPECT_CLEAN(failing);
}

TEST(MixerLevel, FailuresStopCleanlyAndNeverReportAnUnreadLevel) {
  // Mixer 0 cannot be opened: nothing else is called, nothing is closed.
  TestMixer closed = TestMixer::WithWaveIn({TestMixer::Line(kSourceLine)});
  closed.failing = {"Open"};
  EXPECT_EQ(ReadPercent(closed, kSourceLine, kCaptureFailed), -12345);
  EXPECT_EQ(WriteMixerLevel(closed, 50.0f, kSourceLine), kCaptureFailed);
  EXPECT_EQ(closed.calls, 2);
  EXPECT_CLEAN(closed);

  // No wave-in destination: stop there, closed.
  TestMixer speakers;
  speakers.destinations.push_back(
      {TestMixer::Line(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS), {TestMixer::Line(kSourceLine)}});
  EXPECT_EQ(ReadPercent(speakers, kSourceLine, kCaptureFailed), -12345);
  EXPECT_EQ(WriteMixerLevel(speakers, 50.0f, kSourceLine), kCaptureFailed);
  EXPECT_EQ(speakers.destinations[0].sources[0].writes, 0);
  EXPECT_EQ(speakers.opens, 2);
  EXPECT_CLEAN(speakers);

  // No volume control: done, with no level and no write.
  TestMixer mute = TestMixer::WithWaveIn({TestMixer::Line(kSourceLine, {65535, 65535})});
  mute.WaveInSource(0).volume = false;
  EXPECT_EQ(ReadPercent(mute, kSourceLine, kCaptureDone), -12345);
  EXPECT_EQ(WriteMixerLevel(mute, 50.0f, kSourceLine), kCaptureDone);
  EXPECT_EQ(mute.WaveInSource(0).writes, 0);
  mute.WaveInSource(0).volume = true;
  mute.failing = {"Controls"};
  EXPECT_EQ(ReadPercent(mute, kSourceLine, kCaptureDone), -12345);
  EXPECT_CLEAN(mute);

  // The current values cannot be read: no level, and no write of made-up values.
  TestMixer unread = TestMixer::WithWaveIn({TestMixer::Line(kSourceLine, {1, 65535, 1})});
  unread.failing = {"Get"};
  EXPECT_EQ(ReadPercent(unread, kSourceLine, kCaptureDone), -12345);
  EXPECT_EQ(WriteMixerLevel(unread, 50.0f, kSourceLine), kCaptureDone);
  EXPECT_EQ(unread.WaveInSource(0).writes, 0);
  EXPECT_CLEAN(unread);

  // A range of 0: no division, no level.
  TestMixer flat = TestMixer::WithWaveIn({TestMixer::Line(kSourceLine, {0, 0})});
  flat.WaveInSource(0).maximum = 0;
  EXPECT_EQ(ReadPercent(flat, kSourceLine, kCaptureFailed), -12345);
  EXPECT_CLEAN(flat);

  // A refused write is not reported.
  TestMixer stubborn = TestMixer::WithWaveIn({TestMixer::Line(kSourceLine, {0, 0})});
  stubborn.failing = {"Set"};
  EXPECT_EQ(WriteMixerLevel(stubborn, 50.0f, kSourceLine), kCaptureDone);
  EXPECT_EQ(stubborn.WaveInSource(0).values, (std::vector<DWORD>{0, 0}));
  EXPECT_CLEAN(stubborn);
}

// Wine has no mixer devices: winmm refuses to open mixer 0.
TEST(MixerLevel, TheSystemMixerOfThisMachine) {
  if (mixerGetNumDevs() != 0) GTEST_SKIP() << "this machine has a mixer";
  WinmmMixer winmm;
  std::optional<float> level;
  EXPECT_EQ(ReadMixerLevel(winmm, level, kSourceLine), kCaptureFailed);
  EXPECT_FALSE(level.has_value());
  EXPECT_EQ(WriteMixerLevel(winmm, 50.0f, kSourceMicrophone), kCaptureFailed);
}

// The level operations address the microphone only after "mic" was selected.
TEST(MixerLevel, SelectionDecidesWhichSourceTheLevelAddresses) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  const wchar_t* devices[] = {L"kind=audio;name=Inputs;pins=capture,preview,in:Microphone,in:AUX"};
  ASSERT_EQ(TestDevices_SetDevices(devices, 1), S_OK);
  AudioCapture* capture = AudioCapture::Create();
  ASSERT_NE(capture, nullptr);
  EXPECT_EQ(RecordSourceKind(capture->InputName()), kSourceLine);  // nothing selected yet
  EXPECT_EQ(capture->SelectInput("mic"), kCaptureFailed);          // not opened: no effect
  EXPECT_EQ(capture->InputName(), "");
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  EXPECT_EQ(capture->SelectInput("mic"), kCaptureDone);
  EXPECT_EQ(RecordSourceKind(capture->InputName()), kSourceMicrophone);
  EXPECT_EQ(capture->SelectInput("aux"), kCaptureDone);  // enabled, kind unchanged
  EXPECT_EQ(capture->InputName(), "mic");
  EXPECT_EQ(capture->SelectInput("MIC"), kCaptureFailed);
  EXPECT_EQ(capture->InputName(), "mic");
  EXPECT_EQ(capture->SelectInput("line"), kCaptureFailed);  // no line pin, kind still taken
  EXPECT_EQ(RecordSourceKind(capture->InputName()), kSourceLine);
  ASSERT_EQ(capture->Close(), kCaptureDone);
  EXPECT_EQ(capture->InputName(), "line");  // closing keeps it
  EXPECT_EQ(capture->Destroy(), kCaptureDone);
  EXPECT_EQ(TestDevices_GetLiveObjectCount(), 0);
  TestDevices_UseDefaultDevices();
  CoUninitialize();
}
