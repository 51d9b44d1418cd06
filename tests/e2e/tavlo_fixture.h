// A test of Tavlo.exe running against the test filter driver: the driver is
// installed once per test program and removed after its last test; each test
// starts Tavlo (ending any instance left running) and waits until it has
// installed its key table and finished its initialisation; TearDown ends it
// with /Kill. Used by the end-to-end tests that type through the driver.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/driver/driver_control.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {

class TavloOnTestDriver : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { driver_ = new testdriver::ScopedDriver(WindowsPath(KBDFILTR_TEST_SYS)); }
  static void TearDownTestSuite() {
    delete driver_;
    driver_ = nullptr;
  }

  void SetUp() override {
    ASSERT_EQ(driver_->error(), static_cast<DWORD>(ERROR_SUCCESS))
        << "installing the test driver failed at " << driver_->failed_step();
    if (InstanceRunning()) RunKill(TavloExe(), 10000);
    ASSERT_FALSE(InstanceRunning()) << "a Tavlo instance from elsewhere keeps running";
    ASSERT_EQ(device_.Open(), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(device_.ClearLog(), static_cast<DWORD>(ERROR_SUCCESS));

    std::string error;
    ASSERT_TRUE(tavlo_.Launch(TavloExe(), L"", &error)) << error;
    ASSERT_EQ(device_.WaitUntil([](const KbdTestState& s) { return s.TableInstalled != 0; }, 10000),
              static_cast<DWORD>(ERROR_SUCCESS))
        << "Tavlo never installed its key table";
    window_ = tavlo_.WaitForMainWindow(10000);
    ASSERT_NE(window_, nullptr) << "Tavlo's main window never finished its initialisation";
  }

  void TearDown() override {
    if (tavlo_.Running()) {
      RunKill(TavloExe(), 10000);
      tavlo_.WaitEnded(5000);
    }
    tavlo_.Terminate();
  }

  // Waits until Tavlo has switched the driver's layer on (or off).
  void WaitForLayer(bool on) {
    const unsigned mode = on ? 1 : 0;
    ASSERT_EQ(device_.WaitUntil([mode](const KbdTestState& s) { return s.LayerMode == mode; }, 5000),
              static_cast<DWORD>(ERROR_SUCCESS))
        << "Tavlo did not switch the layer " << (on ? "on" : "off");
  }

  static inline testdriver::ScopedDriver* driver_ = nullptr;
  testdriver::TestDevice device_;
  TavloProcess tavlo_;
  HWND window_ = nullptr;  // Tavlo's main window
};

}  // namespace e2e
