// What running-instance discovery relies on from the platform, checked the
// same way against the simulated machine (natively) and against real Win32
// (under Wine): the Z-order walk reaches a marked window of this process,
// its user data and process id read back, the process opens for query, and
// its device-form image path converts to the path the process was started
// from.
#include <gtest/gtest.h>

#include <string>

#include "app/instance.h"
#include "platform/kernel.h"
#include "platform/process.h"
#include "platform/text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/sim/sim.h"
#include "platform/sim/sim_process.h"
#endif

namespace {

struct Own {
  platform::WindowHandle window = nullptr;
  uint32_t processId = 0;
  std::u16string modulePath;
};

#ifdef _WIN32
Own SetUpOwnInstance() {
  Own own;
  own.window = ::CreateWindowExW(0, L"STATIC", L"probe", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ::SetWindowLongPtrW(static_cast<HWND>(own.window), GWLP_USERDATA, InstanceMarker);
  own.processId = ::GetCurrentProcessId();
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  own.modulePath = reinterpret_cast<const char16_t*>(path);
  return own;
}
void TearDownOwnInstance(const Own& own) { ::DestroyWindow(static_cast<HWND>(own.window)); }
#else
Own SetUpOwnInstance() {
  platform::sim::ResetMachine();
  platform::sim::AddDrive(u"C:\\", u"\\Device\\HarddiskVolume3");
  platform::sim::AddDrive(u"Z:\\", u"\\Device\\HarddiskVolume2");
  platform::sim::ProcessSetup setup;
  setup.imagePath = u"\\Device\\HarddiskVolume2\\build\\tests\\probe.exe";
  platform::sim::AddProcess(4242, setup);
  platform::sim::AddWindow(0, 17);
  Own own;
  own.window = platform::sim::AddWindow(InstanceMarker, 4242, true);
  platform::sim::AddWindow(0, 0, true);
  own.processId = 4242;
  own.modulePath = u"Z:\\build\\tests\\probe.exe";
  return own;
}
void TearDownOwnInstance(const Own&) {}
#endif

TEST(InstanceContract, OwnMarkedWindowIsFoundAndItsImageIsOwnPath) {
  const Own own = SetUpOwnInstance();
  ASSERT_NE(own.window, nullptr);

  bool found = false;
  int visited = 0;
  for (platform::WindowHandle w = platform::TopWindow(); w && visited < 100000;
       w = platform::NextWindow(w), ++visited) {
    if (w == own.window) found = true;
  }
  EXPECT_TRUE(found);
  EXPECT_EQ(platform::WindowUserData(own.window), uintptr_t{InstanceMarker});
  EXPECT_EQ(platform::WindowProcessId(own.window), own.processId);

  platform::Handle process = platform::OpenProcessForQuery(platform::kProcessQueryInformation, own.processId);
  ASSERT_TRUE(platform::IsUsableHandle(process));
  char16_t image[platform::kPathBufferLength] = {};
  const uint32_t length = platform::ProcessImageFileName(process, image, platform::kPathBufferLength);
  EXPECT_TRUE(platform::CloseHandle(process));
  ASSERT_GT(length, 0u);
  EXPECT_EQ(platform::TextLength(image), length);
  EXPECT_EQ(std::u16string(image).rfind(u"\\Device\\", 0), 0u);

  char16_t dosPath[platform::kPathBufferLength] = {};
  ASSERT_TRUE(ImagePathToDosPath(image, dosPath));
  EXPECT_TRUE(platform::EqualsNoCase(dosPath, own.modulePath.c_str()));

  TearDownOwnInstance(own);
}

TEST(InstanceContract, DriveListAndDeviceNamesAreTerminatedLists) {
#ifndef _WIN32
  SetUpOwnInstance();
#endif
  char16_t drives[platform::kPathBufferLength] = {};
  const uint32_t length = platform::LogicalDriveStrings(platform::kPathBufferLength, drives);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, platform::kPathBufferLength);
  EXPECT_EQ(drives[length], u'\0');
  // Too small a buffer: the length needed, nothing claimed as stored.
  char16_t tiny[2] = {};
  EXPECT_GT(platform::LogicalDriveStrings(2, tiny), 2u);

  char16_t device[platform::kPathBufferLength] = {};
  char16_t drive[3] = {drives[0], drives[1], u'\0'};
  const uint32_t stored = platform::QueryDosDeviceName(drive, device, platform::kPathBufferLength);
  ASSERT_GT(stored, 0u);
  EXPECT_EQ(std::u16string(device).rfind(u"\\", 0), 0u);
  EXPECT_EQ(platform::QueryDosDeviceName(u"Q9:", device, platform::kPathBufferLength), 0u);
}

TEST(InstanceContract, NoWindowMeansNoDataAndNoProcess) {
#ifndef _WIN32
  platform::sim::ResetMachine();
#endif
  EXPECT_EQ(platform::WindowUserData(nullptr), 0u);
  EXPECT_EQ(platform::WindowProcessId(nullptr), 0u);
  EXPECT_EQ(platform::NextWindow(nullptr), nullptr);
  EXPECT_EQ(platform::OpenProcessForQuery(platform::kProcessQueryInformation, 0), nullptr);
}

}  // namespace
