// The capture source filter behind every test device, microphone or camera; its pins are
// made from the device description. Threads: the graph's (state changes, queries) and one
// streaming thread per connected output pin while running. `lock` guards state, clock,
// graph link and the current format; pins take it for connection changes. Lock order:
// filter lock, then a pin's own fields; the streaming threads never take the filter lock.
#pragma once
#include <dshow.h>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AudioMixerControl.h"
#include "ComPtr.h"
#include "DeviceConfig.h"
#include "DeviceRecords.h"
#include "LiveObjects.h"
#include "MediaType.h"
#include "PictureControls.h"
#include "VideoCapabilities.h"

namespace testdevices {

class OutputPin;
class InputPin;

CLSID DeviceClassId(int device);

class CaptureFilter : public IBaseFilter,
                      public AudioMixerControl,
                      public IAMAnalogVideoDecoder,
                      public ISpecifyPropertyPages,
                      public LiveObject {
public:
  static HRESULT Create(int device, REFIID iid, void** out);

  // IUnknown
  HRESULT WINAPI QueryInterface(REFIID iid, void** out) override;
  ULONG WINAPI AddRef() override;
  ULONG WINAPI Release() override;
  // IPersist, IMediaFilter, IBaseFilter
  HRESULT WINAPI GetClassID(CLSID* id) override;
  HRESULT WINAPI Stop() override;
  HRESULT WINAPI Pause() override;
  HRESULT WINAPI Run(REFERENCE_TIME start) override;
  HRESULT WINAPI GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  HRESULT WINAPI SetSyncSource(IReferenceClock* clock) override;
  HRESULT WINAPI GetSyncSource(IReferenceClock** clock) override;
  HRESULT WINAPI EnumPins(IEnumPins** pins) override;
  HRESULT WINAPI FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT WINAPI QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT WINAPI JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  HRESULT WINAPI QueryVendorInfo(LPWSTR* info) override;
  // IAMAnalogVideoDecoder
  HRESULT WINAPI get_AvailableTVFormats(LONG* formats) override;
  HRESULT WINAPI put_TVFormat(LONG format) override;
  HRESULT WINAPI get_TVFormat(LONG* format) override;
  HRESULT WINAPI get_HorizontalLocked(LONG* locked) override;
  HRESULT WINAPI put_VCRHorizontalLocking(LONG locking) override;
  HRESULT WINAPI get_VCRHorizontalLocking(LONG* locking) override;
  HRESULT WINAPI get_NumberOfLines(LONG* lines) override;
  HRESULT WINAPI put_OutputEnable(LONG enable) override;
  HRESULT WINAPI get_OutputEnable(LONG* enable) override;
  // ISpecifyPropertyPages
  HRESULT WINAPI GetPages(CAUUID* pages) override;

  // For the pins.
  const DeviceConfig& Config() const { return config; }
  int Device() const { return device; }
  bool Fails(const char* call) { return faults.Fails(call); }
  // S_OK, or what the faulted call is to answer.
  HRESULT Fault(const char* call) { return faults.Fault(call); }
  // QueryInterface helper: offered, and not refused by a "QueryInterface(<name>)" fault.
  bool Offers(bool offered, const char* name);
  void NoteUnexpected(const char* call);
  std::mutex& Lock() { return lock; }
  bool IsStoppedLocked() const { return state == State_Stopped; }
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
  std::mutex lock;
  FILTER_STATE state = State_Stopped;
  HANDLE deviceHold = nullptr;  // exclusive=1: the device's semaphore, held while streaming
  ComPtr<IReferenceClock> clock;
  IFilterGraph* graph = nullptr;  // not counted: the graph owns us, not the other way round
  // The graph's event sink, not counted either; set while stopped, read by streaming threads.
  std::atomic<IMediaEventSink*> eventSink{nullptr};
  std::atomic<long long> captureSamples{0};
  std::atomic<bool> gone{false};
  std::atomic<DWORD> unplugCheckedAt{0};
  std::atomic<bool> unplugged{false};
  std::once_flag pathRead;
  std::wstring devicePath;
  std::wstring graphName;
  MediaType currentFormat;
  bool formatChosen = false;
  LONG tvFormat;
  std::vector<std::unique_ptr<OutputPin>> outputs;
  std::vector<std::unique_ptr<InputPin>> inputs;
  std::vector<IPin*> pinOrder;  // enumeration order, as described
};

}  // namespace testdevices
