// The registered devices as the system device enumerator lists them.
#include "DeviceTestSupport.h"

namespace {

class DeviceEnumerationTest : public DeviceTest {};

TEST_F(DeviceEnumerationTest, BothCategoriesListTheRegisteredDevicesInOrder) {
  const std::wstring longName(300, L'x');  // more than 259 bytes in any ANSI code page
  UseDevices({L"kind=audio;name=Mic One", L"kind=video;name=Cam One", L"kind=audio;noname",
              L"kind=audio;name=" + longName, L"kind=video;name=Cam Two"});
  const std::vector<std::wstring> audio = {L"Mic One", L"<none>", longName};
  const std::vector<std::wstring> video = {L"Cam One", L"Cam Two"};
  EXPECT_EQ(audio, FriendlyNames(CLSID_AudioInputDeviceCategory));
  EXPECT_EQ(video, FriendlyNames(CLSID_VideoInputDeviceCategory));
  EXPECT_EQ(audio, FriendlyNames(CLSID_AudioInputDeviceCategory)) << "the order is stable";
  EXPECT_EQ(5, TestDevices_GetDeviceCount());

  // The nameless device still binds, to the device at its own position.
  ComPtr<IBaseFilter> nameless = BindFilter(CLSID_AudioInputDeviceCategory, 1);
  ASSERT_TRUE(nameless);
  CLSID id = GUID_NULL;
  ComPtr<IBaseFilter> first = BindFilter(CLSID_AudioInputDeviceCategory, 0);
  CLSID firstId = GUID_NULL;
  ASSERT_EQ(S_OK, nameless->GetClassID(&id));
  ASSERT_EQ(S_OK, first->GetClassID(&firstId));
  EXPECT_NE(firstId, id);
  nameless.Reset();
  first.Reset();
  TestDeviceRecord record = {};
  ASSERT_EQ(1, TestDevices_GetRecord(2, &record));
  EXPECT_EQ(1, record.filtersCreated);

  UseDevices({});
  ComPtr<ICreateDevEnum> devices;
  ComPtr<IEnumMoniker> monikers;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ICreateDevEnum, reinterpret_cast<void**>(&devices)));
  EXPECT_EQ(S_FALSE, devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0))
      << "an empty set leaves no device behind";
  EXPECT_EQ(E_INVALIDARG, TestDevices_SetDevices(nullptr, 1));
  const wchar_t* bad[] = {L"kind=audio;colour=blue"};
  EXPECT_EQ(E_INVALIDARG, TestDevices_SetDevices(bad, 1));
  EXPECT_EQ(S_OK, TestDevices_UseDefaultDevices());
  EXPECT_EQ(std::vector<std::wstring>{L"Tesmo Test Microphone"},
            FriendlyNames(CLSID_AudioInputDeviceCategory));
  EXPECT_EQ(std::vector<std::wstring>{L"Tesmo Test Camera"},
            FriendlyNames(CLSID_VideoInputDeviceCategory));
}

TEST_F(DeviceEnumerationTest, CreationCanBeRefusedAndTheLeakReportSeesHeldObjects) {
  UseDevices(
      {L"kind=audio;name=Refusing;fail=IClassFactory::CreateInstance@1", L"kind=audio;name=Fine"});
  EXPECT_FALSE(BindFilter(CLSID_AudioInputDeviceCategory, 0)) << "the first creation fails";
  ComPtr<IBaseFilter> second = BindFilter(CLSID_AudioInputDeviceCategory, 0);
  ASSERT_TRUE(second) << "the second one works";
  ComPtr<IEnumPins> pins;
  ASSERT_EQ(S_OK, second->EnumPins(&pins));
  second.Reset();
  // The enumerator keeps the filter, and with it its pins, alive.
  EXPECT_EQ(6, TestDevices_GetLiveObjectCount()) << LiveObjects();
  EXPECT_EQ(2, TestDevices_GetOutstandingReferences()) << LiveObjects();
  pins.Reset();
}

}  // namespace
