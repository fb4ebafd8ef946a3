// A device that goes away while streaming (unplugafter, streamerror, streamstopped) tells
// the graph as a driver's filter does, through the graph's IMediaEventSink, and streams no
// more: what the application then sees in the graph's IMediaEvent queue.
#include "DeviceTestSupport.h"

#include <vector>

namespace {

class StreamEndTest : public DeviceTest {};

struct QueuedEvent {
  long code;
  LONG_PTR param1, param2;
};

TEST_F(StreamEndTest, TheEventReachesTheGraphsQueueAndTheDeviceStreamsNoMore) {
  const struct {
    const wchar_t* description;
    CLSID category;
    GUID majorType;
    long code;
    int samples;
  } cases[] = {
      {L"kind=audio;name=Unplugged;unplugafter=5", CLSID_AudioInputDeviceCategory, MEDIATYPE_Audio,
       EC_DEVICE_LOST, 5},
      {L"kind=audio;name=Unplugged tee;pins=capture;unplugafter=4", CLSID_AudioInputDeviceCategory,
       MEDIATYPE_Audio, EC_DEVICE_LOST, 4},
      {L"kind=video;name=Unplugged;unplugafter=6", CLSID_VideoInputDeviceCategory, MEDIATYPE_Video,
       EC_DEVICE_LOST, 6},
      {L"kind=audio;name=Broken;streamerror=3", CLSID_AudioInputDeviceCategory, MEDIATYPE_Audio,
       EC_ERRORABORT, 3},
      {L"kind=video;name=Broken;streamstopped=2", CLSID_VideoInputDeviceCategory, MEDIATYPE_Video,
       EC_STREAM_ERROR_STOPPED, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.description);
    UseDevices({c.description});
    GrabbedSamples grabbed;
    {
      CaptureGraph g;
      ASSERT_TRUE(BuildGraph(c.category, 0, c.majorType, grabbed, g));
      ComPtr<IMediaEventEx> events;
      ASSERT_EQ(S_OK, QueryInto(g.graph, events, IID_IMediaEventEx));
      OAEVENT handle = 0;
      ASSERT_EQ(S_OK, events->GetEventHandle(&handle));
      ASSERT_TRUE(RunGraph(g));

      // Wine 8 queues every such event for the application, after the EC_CLOCK_CHANGED of
      // Run, and signals the queue's (manual-reset) handle while events wait. It neither
      // stops the graph (it stays running) nor takes or drops a reference on the filter
      // named in EC_DEVICE_LOST, and FreeEventParams releases none either.
      std::vector<long> seen;
      QueuedEvent ended = {};
      while (WaitForSingleObject(reinterpret_cast<HANDLE>(handle), 5000) == WAIT_OBJECT_0) {
        QueuedEvent e = {};
        if (events->GetEvent(&e.code, &e.param1, &e.param2, 0) != S_OK) continue;
        seen.push_back(e.code);
        events->FreeEventParams(e.code, e.param1, e.param2);
        if (e.code == c.code) {
          ended = e;
          break;
        }
      }
      ASSERT_EQ(c.code, ended.code) << "events taken: " << seen.size();
      if (c.code == EC_DEVICE_LOST) {
        ComPtr<IUnknown> identity;
        ASSERT_EQ(S_OK,
                  g.source->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
        EXPECT_EQ(reinterpret_cast<LONG_PTR>(identity.Get()), ended.param1);  // the filter
        EXPECT_EQ(0, ended.param2);                                           // removed
      } else {
        EXPECT_EQ(LONG_PTR(HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)), ended.param1);
      }
      // Sent once: the queue is empty again and its handle no longer signalled.
      QueuedEvent more = {};
      EXPECT_EQ(E_ABORT, events->GetEvent(&more.code, &more.param1, &more.param2, 200));
      EXPECT_EQ(DWORD(WAIT_TIMEOUT), WaitForSingleObject(reinterpret_cast<HANDLE>(handle), 0));
      // Nothing more comes from the device.
      EXPECT_EQ(0, TestDevices_WaitForSamples(0, c.samples + 1, 300));
      g.Release();
    }
    TestDeviceRecord record = {};
    ASSERT_EQ(1, TestDevices_GetRecord(0, &record));
    EXPECT_EQ(1, record.streamEndEvents);
    EXPECT_EQ(c.code, record.lastStreamEndEvent);
    EXPECT_EQ(S_OK, record.lastStreamEndNotify);
    EXPECT_EQ(c.samples, record.samplesDelivered);
    EXPECT_EQ(size_t(c.samples), grabbed.Take().size());
    EXPECT_NOTHING_ALIVE();
  }
}

}  // namespace
