// A fresh simulated bench per test, installed as the port back end, with the port state
// back at its program-start values and the adapter's ports opened by name.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "hw/ports.h"
#include "platform/priority.h"
#include "sim/bench.h"
#include "support/fake_dialogs.h"

namespace testing_support {

class BenchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hw::ResetPortState();
    bench = std::make_unique<sim::TBench>();
    hw::SetIoBackend(bench.get());
    auto& p = hw::Ports();
    p.LptBase = hw::PortAddressOf(p.PrinterPort);
    p.ComBase = hw::PortAddressOf(p.ComPort);
    hw::SetComRegisters();
    platform::ClearPriorityLog();
  }
  void TearDown() override {
    hw::ResetPortState();
    hw::SetIoBackend(nullptr);
  }

  TFakeDialogs dialogs;
  std::unique_ptr<sim::TBench> bench;
};

}  // namespace testing_support
