/* Control API of TesmoTestDevices.dll, for Windows test programs in the same process as the
 * capture graph. Load with LoadLibraryW(L"TesmoTestDevices.dll") and GetProcAddress, or link
 * the import library. Device descriptions, content rules and fault names: README.md. */
#ifndef TESMO_TEST_DEVICE_CONTROL_H
#define TESMO_TEST_DEVICE_CONTROL_H

#include <windows.h>
#include <dshow.h>
#include <dvdmedia.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TESTDEVICES_MAX_DEVICES 32

/* COM class of the colour space converter registered with every device set (README.md). */
static const CLSID TESTDEVICES_CLSID_COLOUR_CONVERTER = {
    0x7e57de01, 0x5e50, 0x4d3b, {0x9a, 0x1c, 0x54, 0x45, 0x53, 0x4d, 0x43, 0x43}};

/* What a device saw and did since the last TestDevices_ResetRecords; one per device position. */
typedef struct TestDeviceRecord {
  int filtersCreated;            /* filter objects created (moniker BindToObject) */
  int setFormatAccepted;         /* IAMStreamConfig::SetFormat calls answered S_OK */
  int setFormatRefused;          /* ... answered otherwise */
  AM_MEDIA_TYPE lastFormatType;  /* last accepted type, pbFormat/pUnk cleared (see below) */
  WAVEFORMATEX lastWaveFormat;   /* audio: the last accepted type's format, as passed */
  VIDEOINFOHEADER lastVideoInfo; /* video: the last accepted type's format, as passed (for a
                                    VideoInfo2 type its fields shared with VIDEOINFOHEADER) */
  int suggestionCount;           /* IAMBufferNegotiation::SuggestAllocatorProperties calls */
  ALLOCATOR_PROPERTIES lastSuggestion;
  ALLOCATOR_PROPERTIES negotiated; /* the allocator's terms at the last capture connection */
  int connections;                 /* capture pin connections made */
  int mixLevelWritten;             /* nonzero once put_MixLevel succeeded, else the default */
  double mixLevel;                 /* IAMAudioInputMixer level, kept across filter objects */
  int putMixLevelCalls;
  unsigned enabledInputs; /* bit k: the k-th input pin's last put_Enable was TRUE */
  int putEnableCalls;
  LONG tvFormat; /* last put_TVFormat value */
  int putTvFormatCalls;
  int runCount;                    /* IMediaFilter::Run calls */
  LONGLONG samplesDelivered;       /* capture samples that downstream Receive took (S_OK) */
  LONGLONG bytesDelivered;         /* their actual data lengths, summed */
  int wrongSizeSamples;            /* deliberately short samples delivered */
  int receiveFailures;             /* Receive results other than S_OK */
  int stopFlushes;                 /* stops that had to flush a sample held downstream */
  int streamEndEvents;             /* events sent for unplugafter / streamerror / streamstopped */
  LONG lastStreamEndEvent;         /* the last one's code: EC_DEVICE_LOST, EC_ERRORABORT, ... */
  HRESULT lastStreamEndNotify;     /* what the graph's IMediaEventSink::Notify answered for it
                                  (E_NOINTERFACE: the filter was in no graph with a sink) */
  VIDEOINFOHEADER2 lastVideoInfo2; /* video: the last accepted FORMAT_VideoInfo2 block, as
                                      passed (zero after a FORMAT_VideoInfo one; lastVideoInfo
                                      then holds its common fields) */
} TestDeviceRecord;

/* Replace the device set: one description per device, in enumeration order, stored under
 * HKCU\Software\Tesmo\TestDevices and registered (COM classes and filters) at once from this
 * module's own path. S_OK, or E_INVALIDARG for a description that does not parse. */
HRESULT TestDevices_SetDevices(const wchar_t* const* descriptions, int count);
/* Back to the default set (one microphone, one camera), registered. */
HRESULT TestDevices_UseDefaultDevices(void);
int TestDevices_GetDeviceCount(void);

/* Clear every record, call count and the unexpected-call list, and put every camera control
 * back to its initial state (a re-plugged camera). */
void TestDevices_ResetRecords(void);
/* Copy of device `device`'s record; 0 for a position outside 0..TESTDEVICES_MAX_DEVICES-1. */
int TestDevices_GetRecord(int device, TestDeviceRecord* record);
/* How often the named call (e.g. "IAMStreamConfig::SetFormat", "QueryInterface(IKsPropertySet)")
 * was made on any object of device `device` since the last reset. */
int TestDevices_GetCallCount(int device, const char* call);
/* Wait until device `device`'s capture pin has delivered at least `samples` samples or until
 * `timeoutMs` passed; 1 when reached, 0 on timeout. */
int TestDevices_WaitForSamples(int device, LONGLONG samples, DWORD timeoutMs);

/* Live COM objects of this module (filters, pins, enumerators, class factories) and the sum
 * of their reference counts. Both are 0 once the library released everything. */
int TestDevices_GetLiveObjectCount(void);
LONG TestDevices_GetOutstandingReferences(void);
/* One line per live object ("OutputPin 'Capture' of 'Tesmo Test Microphone' refs=2"), into
 * `buffer` (UTF-8, zero-terminated, truncated to `capacity`); returns the length it needs. */
int TestDevices_DescribeLiveObjects(char* buffer, int capacity);
/* Calls a correct client never makes (e.g. IPin::ReceiveConnection on an output pin): the
 * count, with the names one a line into `buffer` as above. */
int TestDevices_GetUnexpectedCalls(char* buffer, int capacity);

#ifdef __cplusplus
}
#endif

#endif
