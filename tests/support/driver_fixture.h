// A bench that starts without I/O permission, as a process does before the driver grants
// it, with the driver state and the kernel's services reset around each test.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "hw/driver_loader.h"
#include "hw/ports.h"
#include "platform/kernel.h"
#include "sim/bench.h"
#include "support/fake_dialogs.h"

namespace testing_support {

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hw::ResetPortState();
    hw::ResetDriverState();
    sim::TBenchConfig config;
    config.startDenied = true;
    bench = std::make_unique<sim::TBench>(config);
    hw::SetIoBackend(bench.get());
  }
  void TearDown() override {
    hw::DriverShutDown();
    hw::RemoveDriver();  // also a service a failed start left behind
    hw::ResetDriverState();
    hw::ResetPortState();
    hw::SetIoBackend(nullptr);
    const auto c = kernel::Counts();
    EXPECT_EQ(c.devices + c.links + c.allocations + c.processReferences, 0)
        << "the kernel still holds objects after the driver was removed";
  }

  TFakeDialogs dialogs;
  std::unique_ptr<sim::TBench> bench;
};

}  // namespace testing_support
