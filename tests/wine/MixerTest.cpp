// The recording level against a test mixer standing behind the seven mixer calls,
// the real winmm mixer of this machine, and the source kind that input selection
// leaves for the level operations.
#include <windows.h>
#include <mmsystem.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "TestDeviceControl.h"
#include "audio/AudioCapture.h"
#include "support/Messages.h"
#include "support/TestDevices.h"
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
  // Its volume reads 0 and ignores what is set, as the microphone source of Wine 10's
  // capture mixers does.
  bool deaf = false;
  DWORD lineId = 0;  // filled in by the mixer
  int writes = 0;
};

struct TestDestination {
  TestLine line;
  std::vector<TestLine> sources;
};

// Models mixer devices, each with destinations and their sources, each line's
// channels and volume control, and which mixer belongs to which wave-in device. Every
// argument the level operations pass is checked; whatever a correct caller would never
// send lands in `errors`.
class TestMixer final : public MixerApi {
public:
  struct Device {
    std::vector<TestDestination> destinations;
    int opens = 0, closes = 0;
  };
  std::vector<Device> mixers{1};   // mixer numbers 0, 1, ...
  std::vector<UINT> waveInMixers;  // the mixer of wave-in device 0, 1, ...
  std::set<std::string> failing;   // "Open", "Destination", "Source", "Controls", "Get", "Set"
  std::vector<std::string> errors;
  std::vector<UINT> openOrder;      // every mixer number asked to open, in order
  std::vector<UINT> waveInQueries;  // every wave-in device whose mixer was asked for
  int opens = 0, closes = 0, calls = 0;

  // Mixer 0 with a speaker destination and then a wave-in destination with the given
  // sources, so the right one has to be asked for by type; it is also wave-in device
  // 0's mixer.
  static TestMixer WithWaveIn(std::vector<TestLine> sources) {
    TestMixer mixer;
    mixer.Destinations().push_back({Line(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS), {Line(0x1004)}});
    mixer.Destinations().push_back({Line(MIXERLINE_COMPONENTTYPE_DST_WAVEIN), std::move(sources)});
    mixer.waveInMixers = {0};
    return mixer;
  }
  // Today's layout: one mixer per endpoint, the playback ones first (numbers 0 and 1,
  // a speaker destination each), then one per wave-in device, in wave-in order, whose
  // wave-in destination has a volume of its own. Its sources: none, or as Wine 10 has
  // them, one microphone whose volume reads 0 and ignores what is set.
  enum class CaptureSources { None, DeafMicrophone };
  static TestMixer Modern(std::vector<std::vector<DWORD>> captureValues,
                          CaptureSources sources = CaptureSources::None) {
    TestMixer mixer;
    mixer.mixers.resize(2);
    for (Device& playback : mixer.mixers)
      playback.destinations.push_back(
          {Line(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, {65535, 65535}), {}});
    for (auto& values : captureValues) {
      mixer.waveInMixers.push_back(static_cast<UINT>(mixer.mixers.size()));
      TestDestination waveIn{Line(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, std::move(values)), {}};
      if (sources == CaptureSources::DeafMicrophone) {
        waveIn.sources.push_back(Line(kSourceMicrophone, {0, 0}));
        waveIn.sources.back().deaf = true;
      }
      mixer.mixers.push_back({{waveIn}});
    }
    return mixer;
  }
  static TestLine Line(DWORD type, std::vector<DWORD> values = {0, 0}) {
    TestLine line;
    line.componentType = type;
    line.channels = static_cast<DWORD>(values.size());
    line.values = std::move(values);
    return line;
  }
  std::vector<TestDestination>& Destinations(UINT mixer = 0) {
    return mixers.at(mixer).destinations;
  }
  TestLine& WaveInSource(size_t k) { return Destinations().at(1).sources.at(k); }
  TestLine& WaveIn() { return Destinations().at(1).line; }
  // The wave-in destination of a mixer of the modern layout.
  TestLine& CaptureVolume(UINT mixer) { return Destinations(mixer).at(0).line; }
  int Writes(UINT mixer) {
    int writes = 0;
    for (auto& destination : Destinations(mixer)) {
      writes += destination.line.writes;
      for (auto& source : destination.sources) writes += source.writes;
    }
    return writes;
  }

  MMRESULT Open(HMIXER* mixer, UINT id, DWORD_PTR callback, DWORD_PTR instance,
                DWORD flags) override {
    ++calls;
    openOrder.push_back(id);
    if (callback || instance || flags) Error("Open arguments");
    if (failing.count("Open") || id >= mixers.size()) return MMSYSERR_BADDEVICEID;
    ++opens;
    ++mixers[id].opens;
    *mixer = HandleOf(id);
    return MMSYSERR_NOERROR;
  }

  MMRESULT GetId(HMIXEROBJ object, UINT* mixerId, DWORD flags) override {
    ++calls;
    const auto waveIn = static_cast<UINT>(reinterpret_cast<UINT_PTR>(object));
    waveInQueries.push_back(waveIn);
    if (flags != MIXER_OBJECTF_WAVEIN || !mixerId) Error("GetId arguments");
    if (waveIn >= waveInMixers.size() || !mixerId) return MMSYSERR_BADDEVICEID;
    *mixerId = waveInMixers[waveIn];
    return MMSYSERR_NOERROR;
  }

  MMRESULT GetLineInfoA(HMIXEROBJ object, MIXERLINEA* line, DWORD flags) override {
    Device* mixer = CheckHandle(object, flags);
    if (!mixer) return MMSYSERR_INVALHANDLE;
    auto& lines = mixer->destinations;
    if (line->cbStruct != sizeof(MIXERLINEA)) Error("MIXERLINEA size");
    const DWORD query = flags & MIXER_GETLINEINFOF_QUERYMASK;
    if (query == MIXER_GETLINEINFOF_COMPONENTTYPE) {
      if (failing.count("Destination")) return MIXERR_INVALLINE;
      for (DWORD d = 0; d < lines.size(); ++d)
        if (lines[d].line.componentType == line->dwComponentType) {
          Describe(lines[d].line, d, 0, (d + 1) * 0x10000, *line);
          line->cConnections = static_cast<DWORD>(lines[d].sources.size());
          return MMSYSERR_NOERROR;
        }
      return MIXERR_INVALLINE;
    }
    if (query == MIXER_GETLINEINFOF_SOURCE) {
      if (failing.count("Source")) {
        line->dwComponentType = 0xBAD;  // a failed query may leave anything behind
        return MMSYSERR_ERROR;
      }
      if (line->dwDestination >= lines.size() ||
          line->dwSource >= lines[line->dwDestination].sources.size()) {
        Error("source out of range");
        return MIXERR_INVALLINE;
      }
      Describe(lines[line->dwDestination].sources[line->dwSource], line->dwDestination,
               line->dwSource, (line->dwDestination + 1) * 0x10000 + line->dwSource + 1, *line);
      return MMSYSERR_NOERROR;
    }
    Error("line query " + std::to_string(query));
    return MMSYSERR_INVALFLAG;
  }

  MMRESULT GetLineControlsA(HMIXEROBJ object, MIXERLINECONTROLSA* query, DWORD flags) override {
    Device* mixer = CheckHandle(object, flags);
    if (!mixer) return MMSYSERR_INVALHANDLE;
    if ((flags & MIXER_GETLINECONTROLSF_QUERYMASK) != MIXER_GETLINECONTROLSF_ONEBYTYPE ||
        query->cbStruct != sizeof(MIXERLINECONTROLSA) ||
        query->dwControlType != MIXERCONTROL_CONTROLTYPE_VOLUME || query->cControls != 1 ||
        query->cbmxctrl != sizeof(MIXERCONTROLA) || !query->pamxctrl)
      Error("line controls query");
    TestLine* line = Find(*mixer, query->dwLineID);
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
    Device* mixer = CheckHandle(object, flags);
    if (!mixer) return MMSYSERR_INVALHANDLE;
    if ((flags & MIXER_GETCONTROLDETAILSF_QUERYMASK) != MIXER_GETCONTROLDETAILSF_VALUE)
      Error("get flags");
    TestLine* line = CheckDetails(*mixer, *details);
    if (!line || failing.count("Get")) return MIXERR_INVALCONTROL;
    auto* values = static_cast<DWORD*>(details->paDetails);
    for (DWORD c = 0; c < details->cChannels; ++c) values[c] = line->deaf ? 0 : line->values[c];
    return MMSYSERR_NOERROR;
  }

  MMRESULT SetControlDetails(HMIXEROBJ object, MIXERCONTROLDETAILS* details, DWORD flags) override {
    Device* mixer = CheckHandle(object, flags);
    if (!mixer) return MMSYSERR_INVALHANDLE;
    if ((flags & MIXER_SETCONTROLDETAILSF_QUERYMASK) != MIXER_SETCONTROLDETAILSF_VALUE)
      Error("set flags");
    TestLine* line = CheckDetails(*mixer, *details);
    if (!line || failing.count("Set")) return MIXERR_INVALCONTROL;
    const auto* values = static_cast<const DWORD*>(details->paDetails);
    if (!line->deaf)
      for (DWORD c = 0; c < details->cChannels; ++c) line->values[c] = values[c];
    ++line->writes;
    return MMSYSERR_NOERROR;
  }

  MMRESULT Close(HMIXER handle) override {
    ++calls;
    Device* mixer = MixerOpenAs(reinterpret_cast<HMIXEROBJ>(handle));
    if (!mixer) {
      Error("Close without an open mixer");
      return MMSYSERR_INVALHANDLE;
    }
    ++closes;
    ++mixer->closes;
    return MMSYSERR_NOERROR;
  }

private:
  static constexpr UINT_PTR kHandleBase = 0x4D10;
  // The object-type bits of the flags (mingw-w64 declares no name for them).
  static constexpr DWORD kObjectTypeMask = 0xF0000000;

  static HMIXER HandleOf(UINT id) { return reinterpret_cast<HMIXER>(kHandleBase + id); }

  void Error(const std::string& what) { errors.push_back(what); }

  // The mixer behind a handle that is open now, or null.
  Device* MixerOpenAs(HMIXEROBJ object) {
    const auto value = reinterpret_cast<UINT_PTR>(object);
    if (value < kHandleBase || value - kHandleBase >= mixers.size()) return nullptr;
    Device& mixer = mixers[value - kHandleBase];
    return mixer.closes < mixer.opens ? &mixer : nullptr;
  }

  Device* CheckHandle(HMIXEROBJ object, DWORD flags) {
    ++calls;
    Device* mixer = MixerOpenAs(object);
    if (!mixer || (flags & kObjectTypeMask) != MIXER_OBJECTF_HMIXER) Error("not an opened handle");
    return mixer;
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

  static TestLine* Find(Device& mixer, DWORD lineId) {
    for (auto& destination : mixer.destinations) {
      if (destination.line.lineId == lineId && lineId) return &destination.line;
      for (auto& source : destination.sources)
        if (source.lineId == lineId && lineId) return &source;
    }
    return nullptr;
  }

  TestLine* CheckDetails(Device& mixer, const MIXERCONTROLDETAILS& details) {
    TestLine* line = details.dwControlID >= 100 ? Find(mixer, details.dwControlID - 100) : nullptr;
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
int ReadPercent(TestMixer& mixer, const LevelTarget& target,
                CaptureResult expected = kCaptureDone) {
  std::optional<float> level;
  EXPECT_EQ(ReadMixerLevel(mixer, level, target), expected);
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
  EXPECT_EQ(ReadPercent(mixer, {kSourceLine}), 100);
  EXPECT_EQ(WriteMixerLevel(mixer, 100.0f, {kSourceLine}), kCaptureDone);
  EXPECT_EQ(mixer.WaveInSource(0).values, (std::vector<DWORD>{65534, 65534}));
  EXPECT_EQ(ReadPercent(mixer, {kSourceLine}), 99);
  EXPECT_EQ(WriteMixerLevel(mixer, 50.0f, {kSourceLine}), kCaptureDone);
  EXPECT_EQ(mixer.WaveInSource(0).values, (std::vector<DWORD>{32767, 32767}));
  EXPECT_EQ(ReadPercent(mixer, {kSourceLine}), 49);
  EXPECT_EQ(WriteMixerLevel(mixer, 0.0f, {kSourceLine}), kCaptureDone);
  EXPECT_EQ(mixer.WaveInSource(0).values, (std::vector<DWORD>{0, 0}));
  EXPECT_EQ(ReadPercent(mixer, {kSourceLine}), 0);
  EXPECT_EQ(mixer.WaveInSource(0).writes, 3);
  // Each operation opened the mixer once and closed it again.
  EXPECT_EQ(mixer.opens, 7);
  EXPECT_CLEAN(mixer);
}

TEST(MixerLevel, StereoAveragesFirstAndLastUniformUsesOneChannel) {
  TestMixer mixer = TestMixer::WithWaveIn({TestMixer::Line(kSourceLine, {20000, 40000})});
  EXPECT_EQ(ReadPercent(mixer, {kSourceLine}), 45);  // 30000 of 65535

  // Between the first and the last, channels are neither averaged nor written.
  mixer.WaveInSource(0) = TestMixer::Line(kSourceLine, {6553, 65535, 19660});
  EXPECT_EQ(ReadPercent(mixer, {kSourceLine}), 19);  // (6553 + 19660) / 2 of 65535
  EXPECT_EQ(WriteMixerLevel(mixer, 50.0f, {kSourceLine}), kCaptureDone);
  EXPECT_EQ(mixer.WaveInSource(0).values, (std::vector<DWORD>{32767, 65535, 32767}));

  // A uniform control is asked for one channel, whatever the line has.
  mixer.WaveInSource(0) = TestMixer::Line(kSourceLine, {13107, 60000});
  mixer.WaveInSource(0).uniform = true;
  EXPECT_EQ(ReadPercent(mixer, {kSourceLine}), 20);
  EXPECT_EQ(WriteMixerLevel(mixer, 100.0f, {kSourceLine}), kCaptureDone);
  EXPECT_EQ(mixer.WaveInSource(0).values, (std::vector<DWORD>{65534, 60000}));

  // The range is minimum plus maximum.
  mixer.WaveInSource(0) = TestMixer::Line(kSourceLine, {150, 150});
  mixer.WaveInSource(0).minimum = 100;
  mixer.WaveInSource(0).maximum = 200;
  EXPECT_EQ(ReadPercent(mixer, {kSourceLine}), 50);
  EXPECT_CLEAN(mixer);
}

TEST(MixerLevel, TheSourceIsTheWantedKindElseTheLastElseTheDestination) {
  TestMixer mixer = TestMixer::WithWaveIn({TestMixer::Line(kSourceLine, {6553, 6553}),
                                           TestMixer::Line(kSourceMicrophone, {32767, 32767}),
                                           TestMixer::Line(0x1005, {65535, 65535}),
                                           TestMixer::Line(kSourceMicrophone, {0, 0})});
  EXPECT_EQ(ReadPercent(mixer, {kSourceMicrophone}), 49);  // the first microphone
  EXPECT_EQ(ReadPercent(mixer, {kSourceLine}), 9);
  EXPECT_EQ(WriteMixerLevel(mixer, 100.0f, {kSourceMicrophone}), kCaptureDone);
  EXPECT_EQ(mixer.WaveInSource(1).writes, 1);
  EXPECT_EQ(mixer.WaveInSource(3).writes, 0);
  EXPECT_EQ(mixer.WaveInSource(0).writes, 0);

  // No source of the wanted kind: the last source.
  TestMixer noLine = TestMixer::WithWaveIn(
      {TestMixer::Line(kSourceMicrophone, {0, 0}), TestMixer::Line(0x1005, {65535, 65535})});
  EXPECT_EQ(ReadPercent(noLine, {kSourceLine}), 100);
  EXPECT_EQ(WriteMixerLevel(noLine, 50.0f, {kSourceLine}), kCaptureDone);
  EXPECT_EQ(noLine.WaveInSource(1).values, (std::vector<DWORD>{32767, 32767}));
  EXPECT_EQ(noLine.WaveInSource(0).values, (std::vector<DWORD>{0, 0}));

  // No sources at all: the destination line itself.
  TestMixer bare = TestMixer::WithWaveIn({});
  bare.WaveIn().values = {13107, 13107};
  EXPECT_EQ(ReadPercent(bare, {kSourceMicrophone}), 20);
  EXPECT_EQ(WriteMixerLevel(bare, 100.0f, {kSourceMicrophone}), kCaptureDone);
  EXPECT_EQ(bare.WaveIn().values, (std::vector<DWORD>{65534, 65534}));
  // The speaker destination's source is never touched.
  EXPECT_EQ(bare.Destinations()[0].sources[0].writes, 0);

  // Failed source queries are passed over, never used half-filled: the destination stays.
  TestMixer failing = TestMixer::WithWaveIn({TestMixer::Line(kSourceLine, {0, 0})});
  failing.WaveIn().values = {65535, 65535};
  failing.failing = {"Source"};
  EXPECT_EQ(ReadPercent(failing, {kSourceLine}), 100);
  EXPECT_CLEAN(mixer);
  EXPECT_CLEAN(noLine);
  EXPECT_CLEAN(bare);
  EXPECT_CLEAN(failing);
}

TEST(MixerLevel, FailuresStopCleanlyAndNeverReportAnUnreadLevel) {
  // Mixer 0 cannot be opened, and it is wave-in device 0's mixer too: nothing else is
  // called, nothing is closed.
  TestMixer closed = TestMixer::WithWaveIn({TestMixer::Line(kSourceLine)});
  closed.failing = {"Open"};
  EXPECT_EQ(ReadPercent(closed, {kSourceLine}, kCaptureFailed), -12345);
  EXPECT_EQ(WriteMixerLevel(closed, 50.0f, {kSourceLine}), kCaptureFailed);
  EXPECT_EQ(closed.calls, 4);  // each: open mixer 0, ask for wave-in device 0's mixer
  EXPECT_EQ(closed.openOrder, (std::vector<UINT>{0, 0}));
  EXPECT_CLEAN(closed);

  // No wave-in destination and no wave-in device: stop there, closed.
  TestMixer speakers;
  speakers.Destinations().push_back(
      {TestMixer::Line(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS), {TestMixer::Line(kSourceLine)}});
  EXPECT_EQ(ReadPercent(speakers, {kSourceLine}, kCaptureFailed), -12345);
  EXPECT_EQ(WriteMixerLevel(speakers, 50.0f, {kSourceLine}), kCaptureFailed);
  EXPECT_EQ(speakers.Destinations()[0].sources[0].writes, 0);
  EXPECT_EQ(speakers.opens, 2);
  EXPECT_CLEAN(speakers);

  // No volume control: done, with no level and no write.
  TestMixer mute = TestMixer::WithWaveIn({TestMixer::Line(kSourceLine, {65535, 65535})});
  mute.WaveInSource(0).volume = false;
  EXPECT_EQ(ReadPercent(mute, {kSourceLine}, kCaptureDone), -12345);
  EXPECT_EQ(WriteMixerLevel(mute, 50.0f, {kSourceLine}), kCaptureDone);
  EXPECT_EQ(mute.WaveInSource(0).writes, 0);
  mute.WaveInSource(0).volume = true;
  mute.failing = {"Controls"};
  EXPECT_EQ(ReadPercent(mute, {kSourceLine}, kCaptureDone), -12345);
  EXPECT_CLEAN(mute);

  // The current values cannot be read: no level, and no write of made-up values.
  TestMixer unread = TestMixer::WithWaveIn({TestMixer::Line(kSourceLine, {1, 65535, 1})});
  unread.failing = {"Get"};
  EXPECT_EQ(ReadPercent(unread, {kSourceLine}, kCaptureDone), -12345);
  EXPECT_EQ(WriteMixerLevel(unread, 50.0f, {kSourceLine}), kCaptureDone);
  EXPECT_EQ(unread.WaveInSource(0).writes, 0);
  EXPECT_CLEAN(unread);

  // A range of 0: no division, no level.
  TestMixer flat = TestMixer::WithWaveIn({TestMixer::Line(kSourceLine, {0, 0})});
  flat.WaveInSource(0).maximum = 0;
  EXPECT_EQ(ReadPercent(flat, {kSourceLine}, kCaptureFailed), -12345);
  EXPECT_CLEAN(flat);

  // A refused write is not reported.
  TestMixer stubborn = TestMixer::WithWaveIn({TestMixer::Line(kSourceLine, {0, 0})});
  stubborn.failing = {"Set"};
  EXPECT_EQ(WriteMixerLevel(stubborn, 50.0f, {kSourceLine}), kCaptureDone);
  EXPECT_EQ(stubborn.WaveInSource(0).values, (std::vector<DWORD>{0, 0}));
  EXPECT_CLEAN(stubborn);
}

// Today's layout: the level goes to the open device's own mixer, named by its wave-in
// number, onto its destination's own volume whatever the input kind; the playback mixers
// and the other capture mixers keep their values.
TEST(MixerLevel, TheOpenDevicesOwnMixerOnTodaysLayout) {
  for (auto sources :
       {TestMixer::CaptureSources::None, TestMixer::CaptureSources::DeafMicrophone}) {
    SCOPED_TRACE(sources == TestMixer::CaptureSources::None ? "no sources" : "a deaf microphone");
    // Wave-in devices 0, 1, 2 have mixers 2, 3, 4: a wave-in number is no mixer number.
    TestMixer mixer = TestMixer::Modern({{65535, 65535}, {65535, 65535}, {65535, 65535}}, sources);
    const LevelTarget device{kSourceLine, 1};
    EXPECT_EQ(WriteMixerLevel(mixer, 80.0f, device), kCaptureDone);
    EXPECT_EQ(mixer.CaptureVolume(3).values, (std::vector<DWORD>{52427, 52427}));
    EXPECT_EQ(ReadPercent(mixer, device), 79);
    EXPECT_EQ(WriteMixerLevel(mixer, 50.0f, {kSourceMicrophone, 1}), kCaptureDone);
    EXPECT_EQ(ReadPercent(mixer, {kSourceMicrophone, 1}), 49);
    EXPECT_EQ(mixer.CaptureVolume(3).values, (std::vector<DWORD>{32767, 32767}));
    EXPECT_EQ(mixer.CaptureVolume(3).writes, 2);
    EXPECT_EQ(mixer.Writes(3), 2);  // never the microphone source
    // Only the device's mixer was opened, and nothing else was written.
    EXPECT_EQ(mixer.openOrder, (std::vector<UINT>{3, 3, 3, 3}));
    EXPECT_EQ(mixer.waveInQueries, (std::vector<UINT>{1, 1, 1, 1}));
    for (UINT other : {0u, 1u, 2u, 4u}) {
      EXPECT_EQ(mixer.Writes(other), 0) << "mixer " << other;
      EXPECT_EQ(mixer.mixers[other].opens, 0) << "mixer " << other;
    }
    EXPECT_EQ(mixer.CaptureVolume(2).values, (std::vector<DWORD>{65535, 65535}));
    EXPECT_EQ(mixer.Destinations(0)[0].line.values, (std::vector<DWORD>{65535, 65535}));
    EXPECT_CLEAN(mixer);
  }

  // A destination without a volume of its own: its sources as on mixer 0. The device's
  // mixer answers for itself then; no other mixer is tried.
  TestMixer sourced = TestMixer::Modern({{0, 0}, {0, 0}});
  sourced.CaptureVolume(3).volume = false;
  sourced.Destinations(3)[0].sources = {TestMixer::Line(0x1005, {0, 0}),
                                        TestMixer::Line(kSourceMicrophone, {13107, 13107})};
  EXPECT_EQ(ReadPercent(sourced, {kSourceMicrophone, 1}), 20);
  EXPECT_EQ(WriteMixerLevel(sourced, 80.0f, {kSourceLine, 1}), kCaptureDone);  // the last
  EXPECT_EQ(sourced.Destinations(3)[0].sources[1].values, (std::vector<DWORD>{52427, 52427}));
  sourced.Destinations(3)[0].sources.clear();
  EXPECT_EQ(ReadPercent(sourced, {kSourceLine, 1}), -12345);  // no volume anywhere: 0, unread
  EXPECT_EQ(sourced.openOrder, (std::vector<UINT>{3, 3, 3}));
  EXPECT_EQ(sourced.Writes(2), 0);
  EXPECT_CLEAN(sourced);
}

// Without the device's own mixer: mixer 0, then the mixer of wave-in device 0. Each
// mixer is tried once; a mixer 0 with a recording destination is all that is asked for.
TEST(MixerLevel, WithoutTheDevicesMixerMixerZeroThenWaveInZerosMixer) {
  const auto modern = [] {  // wave-in 0 and 1: mixers 2 and 3
    return TestMixer::Modern({{0, 0}, {0, 0}}, TestMixer::CaptureSources::DeafMicrophone);
  };
  struct Case {
    const char* what;
    LevelTarget target;
    std::vector<UINT> waveInMixers;  // empty: as the layout has them
    std::vector<UINT> openOrder, waveInQueries;
  } cases[] = {
      {"no device open", {kSourceLine}, {}, {0, 2}, {0}},
      {"a wave-in number without a mixer", {kSourceLine, 7}, {}, {0, 2}, {7, 0}},
      {"a device mixer without a wave-in destination", {kSourceLine, 1}, {2, 1}, {1, 0, 2}, {1, 0}},
      {"a device mixer that cannot be opened", {kSourceLine, 1}, {2, 9}, {9, 0, 2}, {1, 0}},
      {"the device's mixer is wave-in 0's", {kSourceMicrophone, 0}, {}, {2}, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestMixer mixer = modern();
    if (!c.waveInMixers.empty()) mixer.waveInMixers = c.waveInMixers;
    EXPECT_EQ(WriteMixerLevel(mixer, 80.0f, c.target), kCaptureDone);
    EXPECT_EQ(mixer.CaptureVolume(2).values, (std::vector<DWORD>{52427, 52427}));
    EXPECT_EQ(mixer.openOrder, c.openOrder);
    EXPECT_EQ(mixer.waveInQueries, c.waveInQueries);
    EXPECT_EQ(ReadPercent(mixer, c.target), 79);
    EXPECT_EQ(mixer.Writes(0) + mixer.Writes(1) + mixer.Writes(3), 0);
    EXPECT_CLEAN(mixer);
  }

  // Mixer 0 with a wave-in destination, no device: only mixer 0, as always.
  TestMixer old = TestMixer::WithWaveIn({TestMixer::Line(kSourceLine)});
  EXPECT_EQ(WriteMixerLevel(old, 80.0f, {kSourceLine}), kCaptureDone);
  EXPECT_EQ(ReadPercent(old, {kSourceLine}), 79);
  EXPECT_EQ(old.openOrder, (std::vector<UINT>{0, 0}));
  EXPECT_TRUE(old.waveInQueries.empty());
  // A device whose wave-in number names mixer 0 opens it once, not twice.
  EXPECT_EQ(ReadPercent(old, {kSourceLine, 0}), 79);
  EXPECT_EQ(old.openOrder, (std::vector<UINT>{0, 0, 0}));
  EXPECT_CLEAN(old);

  // Playback mixers only, no wave-in device: 255, each mixer closed again.
  TestMixer playback = TestMixer::Modern({});
  EXPECT_EQ(ReadPercent(playback, {kSourceLine, 0}, kCaptureFailed), -12345);
  EXPECT_EQ(WriteMixerLevel(playback, 80.0f, {kSourceLine}), kCaptureFailed);
  EXPECT_EQ(playback.openOrder, (std::vector<UINT>{0, 0}));
  EXPECT_EQ(playback.Writes(0), 0);
  EXPECT_CLEAN(playback);
}

// The object's level follows its device: the "WaveInID" of the open device's moniker
// while it is open, the fallback while closed, after a close by the host and after the
// device was lost; also from inside OnData.
TEST(MixerLevel, TheCaptureObjectUsesTheOpenDevicesWaveInNumber) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  tesmo::test::UseTestDevices(
      {L"kind=audio;name=Monitor;waveinid=1;unplugafter=6", L"kind=audio;name=No number"});
  TestMixer mixer = TestMixer::Modern({{0, 0}, {0, 0}},  // wave-in 0, 1: mixers 2, 3
                                      TestMixer::CaptureSources::DeafMicrophone);
  AudioCapture* capture = AudioCapture::Create();
  ASSERT_NE(capture, nullptr);
  capture->UseMixers(mixer);
  int percent = -1;

  // Closed: mixer 0 is a playback mixer, so wave-in device 0's.
  EXPECT_EQ(capture->SetRecordLevel(20), kCaptureDone);
  EXPECT_EQ(mixer.CaptureVolume(2).values, (std::vector<DWORD>{13106, 13106}));

  ASSERT_EQ(capture->Open(0), kCaptureDone);
  EXPECT_EQ(capture->SetRecordLevel(80), kCaptureDone);
  EXPECT_EQ(capture->GetRecordLevel(&percent), kCaptureDone);
  EXPECT_EQ(percent, 79);
  EXPECT_EQ(mixer.CaptureVolume(3).values, (std::vector<DWORD>{52427, 52427}));
  EXPECT_EQ(mixer.CaptureVolume(2).values, (std::vector<DWORD>{13106, 13106}));
  EXPECT_EQ(mixer.mixers[0].opens, 1);  // only the closed call above
  EXPECT_EQ(mixer.Writes(0) + mixer.Writes(1), 0);

  ASSERT_EQ(capture->Close(), kCaptureDone);
  EXPECT_EQ(capture->GetRecordLevel(&percent), kCaptureDone);
  EXPECT_EQ(percent, 19);  // wave-in 0's mixer again

  // A device whose bag names no wave-in device: the fallback.
  ASSERT_EQ(capture->Open(1), kCaptureDone);
  EXPECT_EQ(capture->SetRecordLevel(60), kCaptureDone);
  EXPECT_EQ(mixer.CaptureVolume(2).values, (std::vector<DWORD>{39320, 39320}));
  EXPECT_EQ(mixer.CaptureVolume(3).values, (std::vector<DWORD>{52427, 52427}));

  // From inside OnData, while the device is open (only this thread could close it now),
  // then after the device was lost and the object closed itself.
  class LevelSink : public AudioSink {
  public:
    explicit LevelSink(AudioCapture* capture) : capture(capture) {}
    void OnData(const unsigned char*, int, unsigned long) override {
      if (done) return;
      set = capture->SetRecordLevel(40);
      got = capture->GetRecordLevel(&percent);
      done = true;
    }
    AudioCapture* capture;
    CaptureResult set = 0, got = 0;
    int percent = -1;
    std::atomic<bool> done{false};
  } sink(capture);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  capture->SetSink(&sink);
  ASSERT_EQ(capture->Start(), kCaptureDone);
  ASSERT_TRUE(
      tesmo::test::PumpUntil([&] { return sink.done && capture->IsOpened() == kCaptureNo; }, 5000));
  EXPECT_EQ(sink.set, kCaptureDone);
  EXPECT_EQ(sink.got, kCaptureDone);
  EXPECT_EQ(sink.percent, 39);
  EXPECT_EQ(mixer.CaptureVolume(3).values, (std::vector<DWORD>{26213, 26213}));
  EXPECT_EQ(capture->GetRecordLevel(&percent), kCaptureDone);
  EXPECT_EQ(percent, 59);  // closed by the loss: wave-in 0's mixer, as set above
  capture->SetSink(nullptr);
  EXPECT_EQ(capture->Destroy(), kCaptureDone);
  EXPECT_CLEAN(mixer);
  tesmo::test::ExpectDevicesReleasedThenUseDefaults();
  CoUninitialize();
}

// Wine has no mixer devices: winmm refuses to open mixer 0.
TEST(MixerLevel, TheSystemMixerOfThisMachine) {
  if (mixerGetNumDevs() != 0) GTEST_SKIP() << "this machine has a mixer";
  WinmmMixer winmm;
  std::optional<float> level;
  EXPECT_EQ(ReadMixerLevel(winmm, level, {kSourceLine}), kCaptureFailed);
  EXPECT_FALSE(level.has_value());
  EXPECT_EQ(WriteMixerLevel(winmm, 50.0f, {kSourceMicrophone}), kCaptureFailed);
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
