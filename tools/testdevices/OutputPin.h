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

namespace testdevices {

class JpegEncoder;

class OutputPin : public Pin,
                  public IKsPropertySet,
                  public IAMStreamConfig,
                  public IAMBufferNegotiation {
public:
  OutputPin(CaptureFilter& filter, const PinDescription& pinConfig);
  ~OutputPin() override;

  // IUnknown, as every pin answers
  HRESULT WINAPI QueryInterface(REFIID iid, void** out) override {
    return Pin::QueryInterface(iid, out);
  }
  ULONG WINAPI AddRef() override { return Pin::AddRef(); }
  ULONG WINAPI Release() override { return Pin::Release(); }
  // IPin
  HRESULT WINAPI QueryAccept(const AM_MEDIA_TYPE* type) override;
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
  void* OtherInterface(REFIID iid) override;
  HRESULT ConnectLocked(IPin* receiver, const AM_MEDIA_TYPE* type) override;
  ALLOCATOR_PROPERTIES AllocatorRequest(IMemInputPin& receiver) const override;
  std::vector<MediaType> EnumeratedTypesLocked() const override;
  bool IsCapture() const { return pinConfig.kind == PinDescription::Capture; }
  bool IsAudio() const { return filter.Config().kind == DeviceKind::Audio; }
  // What the pin connects with and enumerates, the current format first.
  std::vector<MediaType> OfferedTypesLocked() const;
  HRESULT AcceptFormatLocked(const AM_MEDIA_TYPE& type, MediaType& current);
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
  // Stamps a filled sample (times in 100 ns, media times in frames), hands it downstream and
  // records the capture pin's deliveries.
  void Send(IMediaSample* sample, long size, bool wrongSize, REFERENCE_TIME start,
            REFERENCE_TIME end, LONGLONG mediaStart, LONGLONG mediaEnd);

  CaptureFilter& filter;
  const PinDescription pinConfig;
  // Under the filter lock.
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
