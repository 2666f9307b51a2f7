// The port-access driver, loaded from its module through the service manager and driven
// with device-control requests, as the program drives it.
#include <gtest/gtest.h>

#include <fstream>

#include "hw/driver_loader.h"
#include "platform/kernel.h"
#include "platform/service_manager.h"
#include "support/driver_fixture.h"

namespace {

using testing_support::DriverTest;

class VarnixioTest : public DriverTest {
 protected:
  void Start() {
    ASSERT_TRUE(hw::InstallDriver()) << platform::LastStartFailure();
    ASSERT_TRUE(hw::OpenDriver());
    hw::DriverState().DriverOpened = true;
  }
  uint32_t Send(uint32_t code, std::vector<uint8_t> in = {}, uint32_t outLength = 4) {
    std::vector<uint8_t> out(outLength);
    uint32_t returned = 99;
    EXPECT_TRUE(kernel::DeviceIoControl(hw::DriverState().DriverHandle, code, in.data(),
                                        static_cast<uint32_t>(in.size()), out.data(), outLength,
                                        returned));
    lastOut = out;
    return returned;
  }
  std::vector<uint8_t> Pid() {
    const uint32_t pid = static_cast<uint32_t>(getpid());
    return {static_cast<uint8_t>(pid), static_cast<uint8_t>(pid >> 8),
            static_cast<uint8_t>(pid >> 16), static_cast<uint8_t>(pid >> 24)};
  }
  bool CanUse(uint16_t port) {
    const size_t faults = bench->AccessFaults().size();
    bench->Out(port, 0x5A);
    (void)bench->In(port);
    return bench->AccessFaults().size() == faults;
  }
  std::vector<uint8_t> lastOut;
};

TEST_F(VarnixioTest, GrantOpensEveryPortForThisProcessOnly) {
  EXPECT_FALSE(CanUse(0x378));  // before any grant the access faults and does nothing
  bench->ClearIoAccessMap();
  EXPECT_EQ(bench->In(0x378), 0x00);
  bench->ApplyIoAccessMap(std::vector<uint8_t>(8192, 0xFF).data(), nullptr);

  Start();
  EXPECT_EQ(Send(4, {0x01, 0x00, 0x00, 0x00}), 1u);  // another process: nothing happens
  EXPECT_FALSE(CanUse(0x378));
  hw::GrantPortAccess();  // code 20, then code 4 with our process ID
  for (uint32_t port : {0x0u, 0x70u, 0x378u, 0x2F8u, 0x8000u, 0xFFFFu})
    EXPECT_TRUE(CanUse(static_cast<uint16_t>(port))) << port;
  EXPECT_EQ(kernel::Counts().processReferences, 0);  // the lookup's reference is released

  // Denying in the driver's map changes nothing until the map is installed again.
  EXPECT_EQ(Send(16), 1u);
  EXPECT_TRUE(CanUse(0x378));
  EXPECT_EQ(Send(4, Pid()), 1u);
  EXPECT_FALSE(CanUse(0x378));
}

TEST_F(VarnixioTest, MapEditsKernelWritesAndUnknownCodes) {
  Start();
  Send(16);
  EXPECT_EQ(Send(24, {0x6F, 0x00, 0x00}), 1u);  // byte 0x6F: ports 0x378..0x37F allowed
  Send(24, {0x00, 0x20, 0x00});                 // index 8192 is past the map: ignored
  Send(24, {0x6E});                             // too short: ignored
  Send(4, Pid());
  EXPECT_TRUE(CanUse(0x378));
  EXPECT_TRUE(CanUse(0x37F));
  EXPECT_FALSE(CanUse(0x377));
  EXPECT_FALSE(CanUse(0x380));

  // Code 12 writes from kernel mode, past the process's map.
  EXPECT_EQ(Send(12, {0x78, 0x02, 0xA5}), 1u);
  bench->ClearIoAccessMap();
  EXPECT_EQ(bench->In(0x278), 0xA5);

  // Code 8 answers two bytes, never more than the caller's buffer holds.
  EXPECT_EQ(Send(8, {}, 4), 2u);
  EXPECT_EQ(Send(8, {}, 1), 1u);
  // A code outside the table completes with success and does nothing.
  bench->ApplyIoAccessMap(std::vector<uint8_t>(8192, 0xFF).data(), nullptr);
  EXPECT_EQ(Send(28, Pid()), 0u);
  EXPECT_FALSE(CanUse(0x378));
}

TEST_F(VarnixioTest, AFailedStartReleasesWhatItCreated) {
  for (auto point : {kernel::TFailPoint::Allocate, kernel::TFailPoint::CreateDevice,
                     kernel::TFailPoint::CreateLink}) {
    kernel::FailNext(point);
    EXPECT_FALSE(hw::InstallDriver());
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_DRIVER_FAILED_START);
    const auto c = kernel::Counts();
    EXPECT_EQ(c.devices + c.links + c.allocations, 0) << static_cast<int>(point);
    EXPECT_FALSE(hw::OpenDriver());
  }
  hw::RemoveDriver();
  EXPECT_FALSE(platform::ServiceExists("varnixio"));
}

TEST_F(VarnixioTest, MissingOrBrokenImagesFailTheStart) {
  const std::string folder = testing::TempDir() + "varnixio-image";
  ASSERT_EQ(system(("mkdir -p " + folder).c_str()), 0);
  const std::string real = hw::ProgramFolder();
  hw::SetProgramFolder(folder);
  std::remove((folder + "/varnixio.sys").c_str());
  EXPECT_FALSE(hw::InstallDriver());
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_FILE_NOT_FOUND);
  std::ofstream(folder + "/varnixio.sys") << "not a driver";
  EXPECT_FALSE(hw::InstallDriver());
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_BAD_EXE_FORMAT);
  hw::SetProgramFolder(std::string(300, 'x'));
  EXPECT_EQ(hw::DriverImagePath(), "");  // past 255 characters
  EXPECT_FALSE(hw::InstallDriver());
  hw::SetProgramFolder(real);
  hw::RemoveDriver();
}

}  // namespace
