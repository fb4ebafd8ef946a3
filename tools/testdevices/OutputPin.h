// An output pin of a test device (category capture or preview). It connects by offering the
// device's current format, takes the downstream allocator, and while running pushes samples
// from its own thread. IAMStreamConfig on the capture pin; IAMBufferNegotiation on the audio
// capture pin. Connection fields change only while stopped, under the filter lock, so the
// streaming thread reads them without locking.
#pragma once
#include <dshow.h>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "CaptureFilter.h"
#include "PinInfo.h"

namespace testdevices {

class JpegEncoder;

class OutputPin : public StreamCallsRefused<OutputPin>,
                  public IKsPropertySet,
                  public IAMStreamConfig,
                  public IAMBufferNegotiation,
                  public LiveObject {
public:
  OutputPin(CaptureFilter& filter, const PinDescription& pinConfig);
  ~OutputPin() override;

  // IUnknown: references count on the filter, and on the pin for the live-object report.
  HRESULT WINAPI QueryInterface(REFIID iid, void** out) override;
  ULONG WINAPI AddRef() override;
  ULONG WINAPI Release() override;
  // IPin
  HRESULT WINAPI Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI Disconnect() override;
  HRESULT WINAPI ConnectedTo(IPin** pin) override;
  HRESULT WINAPI ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI QueryPinInfo(PIN_INFO* info) override;
  HRESULT WINAPI QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT WINAPI QueryId(LPWSTR* id) override;
  HRESULT WINAPI QueryAccept(const AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI EnumMediaTypes(IEnumMediaTypes** types) override;
  // IKsPropertySet
  HRESULT WINAPI Set(REFGUID set, DWORD id, LPVOID instance, DWORD instanceSize, LPVOID data,
                     DWORD size) override;
  HRESULT WINAPI Get(REFGUID set, DWORD id, LPVOID instance, DWORD instanceSize, LPVOID data,
                     DWORD size, DWORD* returned) override;
  HRESULT WINAPI QuerySupported(REFGUID set, DWORD id, DWORD* support) override;
  // IAMStreamConfig
  HRESULT WINAPI SetFormat(AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI GetFormat(AM_MEDIA_TYPE** type) override;
  HRESULT WINAPI GetNumberOfCapabilities(int* count, int* size) override;
  HRESULT WINAPI GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override;
  // IAMBufferNegotiation
  HRESULT WINAPI SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* properties) override;
  HRESULT WINAPI GetAllocatorProperties(ALLOCATOR_PROPERTIES* properties) override;

  // Filter state changes, called with the filter lock held.
  void Activate();        // stopped -> paused: commit the allocator
  void StartStreaming();  // -> running
  void StopStreaming();   // running -> paused
  void Deactivate();      // -> stopped: decommit

private:
  friend class StreamCallsRefused<OutputPin>;
  static constexpr const char* kRole = " on an output pin";
  void NoteUnexpectedCall(const std::string& call);
  bool IsCapture() const { return pinConfig.kind == PinDescription::Capture; }
  bool IsAudio() const { return filter.Config().kind == DeviceKind::Audio; }
  // What the pin connects with and enumerates, the current format first.
  std::vector<MediaType> OfferedTypesLocked() const;
  HRESULT AcceptFormatLocked(const AM_MEDIA_TYPE& type, MediaType& current);
  ALLOCATOR_PROPERTIES WantedAllocatorProperties(const MediaType& format) const;
  HRESULT NegotiateAllocator(IPin* receiver, const MediaType& format);
  void StreamLoop();
  void JoinStreamer();
  HRESULT DeliverAudio(IMediaSample* sample, const WAVEFORMATEX& wave);
  // `encoder` for an MJPG format, else null.
  HRESULT DeliverVideo(IMediaSample* sample, const BITMAPINFOHEADER& picture,
                       REFERENCE_TIME interval, const GUID& subtype, JpegEncoder* encoder);
  static bool IsJpeg(const MediaType& format);
  // Frame `frameNumber` as a JPEG (with the description's faults) into `data`: its size, or
  // -1 when the encoder fails.
  long DrawJpegFrame(JpegEncoder& encoder, const BITMAPINFOHEADER& picture, uint32_t frameNumber,
                     BYTE* data, long capacity);
  // Hands a filled sample downstream and records the capture pin's deliveries.
  void Send(IMediaSample* sample, long size, bool wrongSize);

  CaptureFilter& filter;
  const PinDescription pinConfig;
  // Connection: changed while stopped, under the filter lock.
  ComPtr<IPin> peer;
  ComPtr<IMemInputPin> peerInput;
  ComPtr<IMemAllocator> allocator;
  MediaType connectionType;
  ALLOCATOR_PROPERTIES negotiated = {};
  bool hasSuggestion = false;
  ALLOCATOR_PROPERTIES suggestion = {};
  // Streaming: the counters restart at Run from Stopped and go on across Pause.
  HANDLE stopEvent;
  HANDLE streamerEnded;
  std::thread streamer;
  uint64_t bytesSent = 0;
  uint64_t samplesSent = 0;
  // The streaming thread's own: an MJPG frame's picture before and after compression.
  std::vector<uint8_t> drawnPicture;
  std::vector<uint8_t> jpegFrame;
};

}  // namespace testdevices
