// The capture source filter behind every test device, microphone or camera; its pins are
// made from the device description. Threads: the graph's (state changes, queries) and one
// streaming thread per connected output pin while running. The filter lock (Filter.h) also
// guards the current format. Lock order: filter lock, then a pin's own fields; the
// streaming threads never take the filter lock.
#pragma once
#include <dshow.h>
#include <atomic>
#include <memory>
#include <vector>

#include "AudioMixerControl.h"
#include "DeviceConfig.h"
#include "DeviceRecords.h"
#include "Filter.h"
#include "PictureControls.h"
#include "VideoCapabilities.h"

namespace testdevices {

class OutputPin;
class InputPin;

CLSID DeviceClassId(int device);

class CaptureFilter : public Filter,
                      public AudioMixerControl,
                      public IAMAnalogVideoDecoder,
                      public ISpecifyPropertyPages {
public:
  static HRESULT Create(int device, REFIID iid, void** out);

  // IUnknown, as every filter answers
  HRESULT WINAPI QueryInterface(REFIID iid, void** out) override {
    return Filter::QueryInterface(iid, out);
  }
  ULONG WINAPI AddRef() override { return Filter::AddRef(); }
  ULONG WINAPI Release() override { return Filter::Release(); }
  // IAMAnalogVideoDecoder
  HRESULT WINAPI get_AvailableTVFormats(LONG* formats) override;
  HRESULT WINAPI put_TVFormat(LONG format) override;
  HRESULT WINAPI get_TVFormat(LONG* format) override;
  HRESULT WINAPI get_HorizontalLocked(LONG* locked) override { return WriteOut(locked, 1); }
  HRESULT WINAPI put_VCRHorizontalLocking(LONG) override { return S_OK; }
  HRESULT WINAPI get_VCRHorizontalLocking(LONG* locking) override { return WriteOut(locking, 0); }
  HRESULT WINAPI get_NumberOfLines(LONG* lines) override {
    return WriteOut(lines, (tvFormat & AnalogVideoMask_MCE_NTSC) ? 525 : 625);
  }
  HRESULT WINAPI put_OutputEnable(LONG) override { return S_OK; }
  HRESULT WINAPI get_OutputEnable(LONG* enable) override { return WriteOut(enable, 1); }
  // ISpecifyPropertyPages
  HRESULT WINAPI GetPages(CAUUID* pages) override;

  // For the pins.
  const DeviceConfig& Config() const { return config; }
  int Device() const { return device; }
  HRESULT Fault(const char* call) override { return faults.Fault(call); }
  const VideoCapabilities& Capabilities() const { return capabilities; }
  MediaType CurrentFormatLocked() const { return currentFormat; }
  // `chosen`: set by IAMStreamConfig::SetFormat, after which the capture pin offers only it.
  void SetCurrentFormatLocked(const MediaType& format, bool chosen) {
    currentFormat = format;
    formatChosen = formatChosen || chosen;
  }
  bool FormatChosenLocked() const { return formatChosen; }
  // Position of an input pin among the input pins, for the enabled-inputs record.
  int InputIndexOf(const InputPin* pin) const;
  // Streaming threads, before each sample: true once the device is gone (unplugged or
  // broken, see DeviceConfig::streamEndAfter). The capture pin's thread ends the stream when
  // its count is reached: it sends the event to the graph, once per filter object.
  bool StreamEnds(bool capturePin);
  void CountCaptureSample() { ++captureSamples; }
  // True once no device is registered with this one's device path (another process or
  // TestDevices_SetDevices unplugged it); looked at every kUnplugCheckMs.
  bool Unplugged();
  static constexpr DWORD kUnplugCheckMs = 200;
  // silentfor: the stream goes on after its quiet time, quiet again after as many samples.
  void ResumeStream() {
    captureSamples = 0;
    gone = false;
  }
  // What the picture controls do to the next frame, read by the streaming thread.
  PictureAdjustment PictureAdjustmentNow() const { return pictureControls.Adjustment(); }

private:
  CaptureFilter(int device, const DeviceConfig& config);
  ~CaptureFilter() override;
  void* OtherInterface(REFIID iid) override;
  HRESULT OnStateChange(FILTER_STATE from, FILTER_STATE to) override;
  bool MixerCallFails(const char* method) override;
  // exclusive=1: takes the device's cross-process hold before streaming (an error
  // while another filter object holds it); gives it back once stopped.
  HRESULT TakeDeviceLocked();
  void GiveDeviceBackLocked();
  double ReadMixLevel() override;
  void WriteMixLevel(double level) override;

  const int device;
  const DeviceConfig config;
  const VideoCapabilities capabilities;
  FaultPlan faults;
  const PictureControls pictureControls;
  ControlInterface<IAMVideoProcAmp, false> procAmp;
  ControlInterface<IAMCameraControl, true> cameraControl;
  HANDLE deviceHold = nullptr;  // exclusive=1: the device's semaphore, held while streaming
  std::atomic<long long> captureSamples{0};
  std::atomic<bool> gone{false};
  std::atomic<DWORD> unplugCheckedAt{0};
  std::atomic<bool> unplugged{false};
  std::once_flag pathRead;
  std::wstring devicePath;
  // Under the filter lock.
  MediaType currentFormat;
  bool formatChosen = false;
  LONG tvFormat;
  std::vector<std::unique_ptr<OutputPin>> outputs;
  std::vector<std::unique_ptr<InputPin>> inputs;
};

}  // namespace testdevices
