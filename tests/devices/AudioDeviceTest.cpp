// The synthetic microphone in real graphs: format, buffers, content, pins, mixers, faults.
#include "DeviceTestSupport.h"

#include <cstring>

namespace {

const std::wstring kMicrophone = L"kind=audio;name=Tesmo Test Microphone";

AM_MEDIA_TYPE* PcmType(IAMStreamConfig* config, WORD channels, DWORD rate, WORD bits) {
  AM_MEDIA_TYPE* type = nullptr;
  if (config->GetFormat(&type) != S_OK || !type || type->formattype != FORMAT_WaveFormatEx)
    return type;
  auto* wave = reinterpret_cast<WAVEFORMATEX*>(type->pbFormat);
  wave->wFormatTag = WAVE_FORMAT_PCM;
  wave->nChannels = channels;
  wave->nSamplesPerSec = rate;
  wave->wBitsPerSample = bits;
  wave->nBlockAlign = WORD(channels * bits / 8);
  wave->nAvgBytesPerSec = wave->nBlockAlign * rate;
  wave->cbSize = 0;
  type->lSampleSize = wave->nBlockAlign;
  return type;
}

ComPtr<IAMStreamConfig> StreamConfig(IBaseFilter* source) {
  ComPtr<ICaptureGraphBuilder2> builder;
  ComPtr<IAMStreamConfig> config;
  CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                   IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(&builder));
  if (builder)
    builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, source, IID_IAMStreamConfig,
                           reinterpret_cast<void**>(&config));
  return config;
}

class AudioDeviceTest : public DeviceTest {};

// The library's sequence: format, buffer suggestion, RenderStream, run. The suggestion made
// before the first connection is taken up by the one the builder makes, straight to the
// grabber or through the Smart Tee it puts after a lone capture pin.
TEST_F(AudioDeviceTest, StreamsTheByteSequenceInSuggestedBuffersStraightOrThroughTheSmartTee) {
  for (const wchar_t* description :
       {L"kind=audio;name=Tesmo Test Microphone", L"kind=audio;name=Bare;pins=capture"}) {
    SCOPED_TRACE(testing::Message() << description);
    UseDevices({description});
    const bool throughTee = std::wstring(description).find(L"pins=capture") != std::wstring::npos;
    GrabbedSamples grabbed;
    {
      CaptureGraph g;
      ComPtr<IBaseFilter> source = BindFilter(CLSID_AudioInputDeviceCategory, 0);
      ASSERT_TRUE(source);
      ComPtr<IAMStreamConfig> config = StreamConfig(source.Get());
      ASSERT_TRUE(config);
      AM_MEDIA_TYPE* type = PcmType(config.Get(), 1, 11025, 16);
      ASSERT_TRUE(type);
      EXPECT_EQ(S_OK, config->SetFormat(type));
      FreeType(type);
      config.Reset();
      ComPtr<IPin> capture = FirstPin(source.Get(), PINDIR_OUTPUT);
      ComPtr<IAMBufferNegotiation> negotiation;
      ASSERT_EQ(S_OK, QueryInto(capture, negotiation, IID_IAMBufferNegotiation));
      ALLOCATOR_PROPERTIES suggestion = {8, 960, 2, 0};
      EXPECT_EQ(S_OK, negotiation->SuggestAllocatorProperties(&suggestion));

      ASSERT_TRUE(
          BuildGraph(CLSID_AudioInputDeviceCategory, 0, MEDIATYPE_Audio, grabbed, g, source.Get()));
      source.Reset();
      ComPtr<IPin> peer;
      ASSERT_EQ(S_OK, capture->ConnectedTo(&peer));
      PIN_INFO peerInfo = {};
      ASSERT_EQ(S_OK, peer->QueryPinInfo(&peerInfo));
      EXPECT_EQ(throughTee, g.grabber.Get() != peerInfo.pFilter);
      if (peerInfo.pFilter) peerInfo.pFilter->Release();
      ALLOCATOR_PROPERTIES reported = {};
      EXPECT_EQ(S_OK, negotiation->GetAllocatorProperties(&reported));
      EXPECT_EQ(8, reported.cBuffers);
      EXPECT_EQ(960, reported.cbBuffer);
      // A suggestion on a connected pin comes too late.
      EXPECT_EQ(VFW_E_ALREADY_CONNECTED, negotiation->SuggestAllocatorProperties(&suggestion));

      ASSERT_TRUE(RunGraph(g));
      // 24 buffers of 960 bytes are about one second of 11025 Hz mono 16-bit sound.
      EXPECT_TRUE(grabbed.WaitFor(24, 5000));
      g.Release();
    }
    TestDeviceRecord record = {};
    ASSERT_EQ(1, TestDevices_GetRecord(0, &record));
    EXPECT_EQ(1, record.setFormatAccepted);
    EXPECT_EQ(11025u, record.lastWaveFormat.nSamplesPerSec);
    EXPECT_EQ(22050u, record.lastWaveFormat.nAvgBytesPerSec);
    EXPECT_EQ(2, record.lastFormatType.lSampleSize);
    EXPECT_EQ(2, record.suggestionCount);
    EXPECT_EQ(960, record.lastSuggestion.cbBuffer);
    EXPECT_EQ(2, record.lastSuggestion.cbAlign);
    EXPECT_EQ(8, record.negotiated.cBuffers);
    EXPECT_EQ(960, record.negotiated.cbBuffer);
    EXPECT_EQ(1, record.connections);
    EXPECT_EQ(0, record.receiveFailures);

    auto samples = grabbed.Take();
    ASSERT_GE(samples.size(), 24u);
    EXPECT_EQ(LONGLONG(samples.size()), record.samplesDelivered);
    size_t index = 0;
    double previousTime = -1;
    for (const auto& sample : samples) {
      ASSERT_EQ(960u, sample.bytes.size());  // the tee hands the grabber the device's buffers
      for (BYTE b : sample.bytes) ASSERT_EQ(index++ % 251, b) << "at stream byte " << index - 1;
      EXPECT_GT(sample.time, previousTime);
      previousTime = sample.time;
    }
    EXPECT_NEAR(double(index - 960) / 22050.0, samples.back().time, 0.001)
        << "sample times follow the bytes";
  }
}

// Without a preview pin the builder puts a Smart Tee after the capture pin; samples still flow.
TEST_F(AudioDeviceTest, CapturePinAloneStreamsThroughTheSmartTee) {
  UseDevices({L"kind=audio;name=Bare Microphone;pins=capture;mixer=0;pages=0;format=1/8000/8"});
  GrabbedSamples grabbed;
  {
    CaptureGraph g;
    ASSERT_TRUE(BuildGraph(CLSID_AudioInputDeviceCategory, 0, MEDIATYPE_Audio, grabbed, g));
    ComPtr<IPin> capture = FirstPin(g.source.Get(), PINDIR_OUTPUT), peer;
    ASSERT_EQ(S_OK, capture->ConnectedTo(&peer));
    PIN_INFO info = {};
    ASSERT_EQ(S_OK, peer->QueryPinInfo(&info));
    EXPECT_NE(g.grabber.Get(), info.pFilter);
    if (info.pFilter) info.pFilter->Release();
    EXPECT_FALSE(FirstPin(g.source.Get(), PINDIR_INPUT));
    ComPtr<IUnknown> absent;
    EXPECT_EQ(E_NOINTERFACE,
              g.source->QueryInterface(IID_IAMAudioInputMixer, reinterpret_cast<void**>(&absent)));
    EXPECT_EQ(E_NOINTERFACE, g.source->QueryInterface(IID_ISpecifyPropertyPages,
                                                      reinterpret_cast<void**>(&absent)));
    ASSERT_TRUE(RunGraph(g));
    EXPECT_TRUE(grabbed.WaitFor(3, 5000));
    FILTER_STATE state;
    ComPtr<IMediaFilter> filter;
    ASSERT_EQ(S_OK, QueryInto(g.source, filter, IID_IMediaFilter));
    ASSERT_EQ(S_OK, g.control->Pause());
    EXPECT_EQ(VFW_S_CANT_CUE, filter->GetState(0, &state));
    EXPECT_EQ(State_Paused, state);
    g.Release();
  }
  auto samples = grabbed.Take();
  ASSERT_GE(samples.size(), 3u);
  // 8000 Hz 8-bit mono, default 50 ms buffers.
  EXPECT_EQ(400u, samples[0].bytes.size());
  EXPECT_EQ(0, samples[0].bytes[0]);
  EXPECT_EQ(400 % 251, samples[1].bytes[0]);
}

TEST_F(AudioDeviceTest, StreamConfigTakesListedFormatsOnlyAndReportsTheCurrentOne) {
  UseDevices({L"kind=audio;name=Picky;formats=1/11025/16,2/44100/16;format=2/44100/16",
              L"kind=audio;name=Opaque;format=opaque"});
  {
    ComPtr<IBaseFilter> source = BindFilter(CLSID_AudioInputDeviceCategory, 0);
    ComPtr<IAMStreamConfig> config = StreamConfig(source.Get());
    ASSERT_TRUE(config);
    AM_MEDIA_TYPE* current = reinterpret_cast<AM_MEDIA_TYPE*>(0xdeadbeef);
    ASSERT_EQ(S_OK, config->GetFormat(&current));
    ASSERT_EQ(FORMAT_WaveFormatEx, current->formattype);
    EXPECT_EQ(MEDIATYPE_Audio, current->majortype);
    EXPECT_EQ(2, reinterpret_cast<WAVEFORMATEX*>(current->pbFormat)->nChannels);
    EXPECT_EQ(44100u, reinterpret_cast<WAVEFORMATEX*>(current->pbFormat)->nSamplesPerSec);
    FreeType(current);

    AM_MEDIA_TYPE* unlisted = PcmType(config.Get(), 1, 8000, 8);
    EXPECT_NE(S_OK, config->SetFormat(unlisted));
    FreeType(unlisted);
    AM_MEDIA_TYPE* inconsistent = PcmType(config.Get(), 1, 11025, 16);
    reinterpret_cast<WAVEFORMATEX*>(inconsistent->pbFormat)->nAvgBytesPerSec = 11025;
    EXPECT_NE(S_OK, config->SetFormat(inconsistent));
    FreeType(inconsistent);
    AM_MEDIA_TYPE* listed = PcmType(config.Get(), 1, 11025, 16);
    listed->lSampleSize = 7;  // recorded as passed, whatever it says
    EXPECT_EQ(S_OK, config->SetFormat(listed));
    FreeType(listed);

    ASSERT_EQ(S_OK, config->GetFormat(&current));
    EXPECT_EQ(1, reinterpret_cast<WAVEFORMATEX*>(current->pbFormat)->nChannels);
    EXPECT_EQ(11025u, reinterpret_cast<WAVEFORMATEX*>(current->pbFormat)->nSamplesPerSec);
    FreeType(current);

    ComPtr<IAMStreamConfig> opaque =
        StreamConfig(BindFilter(CLSID_AudioInputDeviceCategory, 1).Get());
    ASSERT_TRUE(opaque);
    ASSERT_EQ(S_OK, opaque->GetFormat(&current));
    EXPECT_NE(FORMAT_WaveFormatEx, current->formattype);
    EXPECT_EQ(MEDIATYPE_Audio, current->majortype);
    FreeType(current);
  }
  TestDeviceRecord record = {};
  ASSERT_EQ(1, TestDevices_GetRecord(0, &record));
  EXPECT_EQ(1, record.setFormatAccepted);
  EXPECT_EQ(2, record.setFormatRefused);
  EXPECT_EQ(WAVE_FORMAT_PCM, record.lastWaveFormat.wFormatTag);
  EXPECT_EQ(2, record.lastWaveFormat.nBlockAlign);
  EXPECT_EQ(16, record.lastWaveFormat.wBitsPerSample);
  EXPECT_EQ(7, record.lastFormatType.lSampleSize);
  EXPECT_EQ(MEDIASUBTYPE_PCM, record.lastFormatType.subtype);
}

TEST_F(AudioDeviceTest, InputPinsAreNamedAndMixersAreRecorded) {
  UseDevices(
      {L"kind=audio;name=Mixer Mic;pins=capture,preview,in:Microphone,in:Line "
       L"In,in:麦克风,in:线性输入;"
       L"mixlevel=0.25"});
  {
    ComPtr<IBaseFilter> source = BindFilter(CLSID_AudioInputDeviceCategory, 0);
    ASSERT_TRUE(source);
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(S_OK, source->EnumPins(&pins));
    const std::vector<std::wstring> names = {L"Capture", L"Preview", L"Microphone",
                                             L"Line In", L"麦克风",  L"线性输入"};
    const GUID categories[2] = {PIN_CATEGORY_CAPTURE, PIN_CATEGORY_PREVIEW};
    ComPtr<IPin> pin;
    size_t at = 0;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
      ASSERT_LT(at, names.size());
      PIN_INFO info = {};
      ASSERT_EQ(S_OK, pin->QueryPinInfo(&info));
      info.pFilter->Release();
      EXPECT_EQ(names[at], info.achName);
      EXPECT_EQ(at < 2 ? PINDIR_OUTPUT : PINDIR_INPUT, info.dir);
      ComPtr<IKsPropertySet> property;
      if (at < 2) {
        ASSERT_EQ(S_OK, QueryInto(pin, property, IID_IKsPropertySet));
        GUID category = GUID_NULL;
        DWORD returned = 0;
        EXPECT_EQ(S_OK, property->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0,
                                      &category, sizeof category, &returned));
        EXPECT_EQ(categories[at], category);
        EXPECT_EQ(sizeof(GUID), returned);
      } else {
        EXPECT_EQ(E_NOINTERFACE, QueryInto(pin, property, IID_IKsPropertySet));
        ComPtr<IAMAudioInputMixer> mixer;
        ASSERT_EQ(S_OK, QueryInto(pin, mixer, IID_IAMAudioInputMixer));
        if (names[at] == L"麦克风") {
          EXPECT_EQ(S_OK, mixer->put_Enable(TRUE));
        }
      }
      ++at;
    }
    EXPECT_EQ(names.size(), at);

    ComPtr<IAMAudioInputMixer> mixer;
    ASSERT_EQ(S_OK, QueryInto(source, mixer, IID_IAMAudioInputMixer));
    double level = -1;
    EXPECT_EQ(S_OK, mixer->get_MixLevel(&level));
    EXPECT_EQ(0.25, level);
    EXPECT_EQ(S_OK, mixer->put_MixLevel(0.569999));
  }
  // The level belongs to the device: a new filter object reads it back.
  ComPtr<IBaseFilter> again = BindFilter(CLSID_AudioInputDeviceCategory, 0);
  ComPtr<IAMAudioInputMixer> mixer;
  ASSERT_EQ(S_OK, QueryInto(again, mixer, IID_IAMAudioInputMixer));
  double level = -1;
  EXPECT_EQ(S_OK, mixer->get_MixLevel(&level));
  EXPECT_EQ(0.569999, level);
  mixer.Reset();
  again.Reset();

  TestDeviceRecord record = {};
  ASSERT_EQ(1, TestDevices_GetRecord(0, &record));
  EXPECT_EQ(1u << 2, record.enabledInputs);
  EXPECT_EQ(1, record.putEnableCalls);
  EXPECT_EQ(1, record.putMixLevelCalls);
  EXPECT_EQ(2, record.filtersCreated);
}

TEST_F(AudioDeviceTest, NamedCallsFailOnRequest) {
  UseDevices(
      {L"kind=audio;name=Faulty;fail=IAMStreamConfig::GetFormat,QueryInterface(IKsPropertySet),"
       L"IAMAudioInputMixer::get_MixLevel@2,IPin::ConnectedTo"});
  ComPtr<IBaseFilter> source = BindFilter(CLSID_AudioInputDeviceCategory, 0);
  ASSERT_TRUE(source);
  ComPtr<IPin> capture = FirstPin(source.Get(), PINDIR_OUTPUT);
  ASSERT_TRUE(capture);
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(S_OK, QueryInto(capture, config, IID_IAMStreamConfig));
  AM_MEDIA_TYPE* type = reinterpret_cast<AM_MEDIA_TYPE*>(0xdeadbeef);
  EXPECT_EQ(E_FAIL, config->GetFormat(&type));
  EXPECT_EQ(nullptr, type);
  ComPtr<IKsPropertySet> property;
  EXPECT_EQ(E_NOINTERFACE, QueryInto(capture, property, IID_IKsPropertySet));
  IPin* peer = reinterpret_cast<IPin*>(0xdeadbeef);
  EXPECT_EQ(E_FAIL, capture->ConnectedTo(&peer));
  EXPECT_EQ(nullptr, peer);

  ComPtr<IAMAudioInputMixer> mixer;
  ASSERT_EQ(S_OK, QueryInto(source, mixer, IID_IAMAudioInputMixer));
  double level = 0;
  EXPECT_EQ(S_OK, mixer->get_MixLevel(&level));
  EXPECT_EQ(E_FAIL, mixer->get_MixLevel(&level));
  EXPECT_EQ(S_OK, mixer->get_MixLevel(&level));
  EXPECT_EQ(3, TestDevices_GetCallCount(0, "IAMAudioInputMixer::get_MixLevel"));
  EXPECT_EQ(1, TestDevices_GetCallCount(0, "IAMStreamConfig::GetFormat"));

  // The report sees what this test still holds, so it can catch a leak.
  EXPECT_EQ(5, TestDevices_GetLiveObjectCount()) << LiveObjects();  // filter, 2 outputs, 2 inputs
  EXPECT_LT(0, TestDevices_GetOutstandingReferences());
}

}  // namespace
