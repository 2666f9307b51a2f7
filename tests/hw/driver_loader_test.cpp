#include "hw/driver_loader.h"

#include <gtest/gtest.h>

#include "app/startup.h"
#include "platform/service_manager.h"
#include "support/driver_fixture.h"

namespace {

using testing_support::DriverTest;

TEST_F(DriverTest, StartUpInstallsGrantsAndRemovesTheDriver) {
  ASSERT_TRUE(app::StartDriver());
  EXPECT_TRUE(hw::DriverState().DriverOpened);
  EXPECT_FALSE(hw::DriverState().DirectPortAccess);
  EXPECT_TRUE(platform::ServiceRunning("varnixio"));
  const size_t faults = bench->AccessFaults().size();
  hw::WritePort(0x378, 0x12);
  EXPECT_EQ(hw::ReadPort(0x378), 0x12);
  EXPECT_EQ(bench->AccessFaults().size(), faults);
  hw::DriverShutDown();
  EXPECT_FALSE(platform::ServiceExists("varnixio"));
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(DriverTest, AServiceLeftRunningIsUsedAndStillDeletedAtTheEnd) {
  ASSERT_TRUE(hw::InstallDriver());  // an earlier run that crashed
  hw::DriverStartUp();
  EXPECT_TRUE(hw::DriverState().DriverOpened);
  EXPECT_TRUE(platform::ServiceRunning("varnixio"));
  hw::DriverShutDown();
  EXPECT_FALSE(platform::ServiceExists("varnixio"));
}

TEST_F(DriverTest, WithoutItsImageTheProgramEndsWithTheWarning) {
  const std::string real = hw::ProgramFolder();
  hw::SetProgramFolder(testing::TempDir() + "no-driver-here");
  EXPECT_FALSE(app::StartDriver());
  hw::SetProgramFolder(real);
  EXPECT_FALSE(hw::DriverState().DriverOpened);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].caption, "Warning");
  EXPECT_EQ(dialogs.messages[0].text, "Driver varnixio.sys is not Loaded!");
  EXPECT_EQ(dialogs.messages[0].buttons, platform::mbOK);
}

// A back end whose port access the kernel already mediates needs no driver.
class TMediatedBackend final : public hw::TIoBackend {
 public:
  const char* Name() const override { return "mediated"; }
  uint8_t In(uint16_t) override { return 0; }
  void Out(uint16_t, uint8_t) override {}
  void OutWord(uint16_t, uint16_t) override {}
  void DelayLoop(uint32_t) override {}
  int32_t OpenPortFile(const std::string&, std::string*) override { return -1; }
  void ClosePortFile(int32_t) override {}
  bool GetCommState(int32_t, hw::TCommState&) override { return false; }
  bool SetCommState(int32_t, const hw::TCommState&) override { return false; }
  bool NeedsPortDriver() const override { return false; }
  bool UsesRealTime() const override { return false; }
};

TEST_F(DriverTest, DeviceFileBackEndsNeedNoDriver) {
  TMediatedBackend mediated;
  hw::SetIoBackend(&mediated);
  EXPECT_TRUE(app::StartDriver());
  EXPECT_TRUE(hw::DriverState().DriverOpened);
  EXPECT_TRUE(hw::DriverState().DirectPortAccess);
  EXPECT_FALSE(platform::ServiceExists("varnixio"));
  hw::DriverShutDown();
  hw::SetIoBackend(bench.get());
}

}  // namespace
