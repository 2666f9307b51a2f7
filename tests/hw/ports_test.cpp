#include "hw/ports.h"

#include <gtest/gtest.h>

#include "sim/sources.h"
#include "support/bench_fixture.h"

namespace {

using sim::Bit;
using sim::TLine;
using testing_support::BenchTest;

class PortsTest : public BenchTest {
 protected:
  uint8_t DataLatch() { return bench->In(0x378); }
  const sim::TUart& Com2() { return bench->Uart(0x2F8); }
};

TEST_F(PortsTest, OutputOperationsKeepTheShadowAndInvertEveryLine) {
  hw::SetOutputs(0xFF);
  EXPECT_EQ(DataLatch(), 0x00);  // all eight lines high
  hw::Out3_lo();
  EXPECT_EQ(DataLatch(), 0x04);
  hw::SetOutputs(0x01);
  EXPECT_EQ(DataLatch(), 0xFE);  // Out1 high, all others low
  EXPECT_TRUE(bench->Level(TLine::Out1));
  EXPECT_FALSE(bench->Level(TLine::Out2));

  // Code that writes the data register directly leaves the shadow alone, so the next
  // line operation writes the shadow's idea of the other lines back.
  hw::WritePort(0x378, 0x55);
  hw::Out8_hi();
  EXPECT_EQ(DataLatch(), 0x7E);
  EXPECT_EQ(hw::Ports().DataShadow, 0x7E);
}

TEST_F(PortsTest, FirstOutOperationDrivesTheOtherLinesHigh) {
  bench->Out(0x378, 0xFF);  // whatever was on the port before
  hw::Out2_lo();
  EXPECT_EQ(DataLatch(), 0x02);
  const uint32_t outs = bench->Levels() & 0xFF;
  EXPECT_EQ(outs, 0xFFu & ~Bit(TLine::Out2));
}

TEST_F(PortsTest, InputsReadThroughTheAdapterPolarity) {
  bench->Plug(std::make_shared<sim::TLoopbackDevice>());
  struct Step {
    void (*drive)();
    bool (*check)();
    bool (*checkNot)();
    bool want;
  };
  const Step steps[] = {
      {hw::Out1_hi, hw::Check_In1, hw::Check_NotIn1, true},
      {hw::Out1_lo, hw::Check_In1, hw::Check_NotIn1, false},
      {hw::Out2_hi, hw::Check_In2, hw::Check_NotIn2, true},
      {hw::Out2_lo, hw::Check_In2, hw::Check_NotIn2, false},
      {hw::Out3_hi, hw::Check_In3, hw::Check_NotIn3, true},
      {hw::Out3_lo, hw::Check_In3, hw::Check_NotIn3, false},
      {hw::Out4_hi, hw::Check_In4, hw::Check_NotIn4, true},
      {hw::Out4_lo, hw::Check_In4, hw::Check_NotIn4, false},
      {hw::RTS_hi, hw::Check_CTS, hw::Check_NotCTS, true},
      {hw::RTS_lo, hw::Check_CTS, hw::Check_NotCTS, false},
  };
  int i = 0;
  for (const auto& s : steps) {
    s.drive();
    EXPECT_EQ(s.check(), s.want) << "step " << i;
    EXPECT_EQ(s.checkNot(), !s.want) << "step " << i;
    ++i;
  }
  // Raw register view of the same polarity: In1 high reads status bit 7 as 1, In2..In4
  // high read bits 6..4 as 0.
  hw::SetOutputs(0x0F);
  EXPECT_EQ(hw::ReadPort(0x379) & 0xF8, 0x80);
  hw::SetOutputs(0x00);
  EXPECT_EQ(hw::ReadPort(0x379) & 0xF8, 0x70);
}

TEST_F(PortsTest, StopButtonAndPower) {
  hw::Ports().Delay = 500000;
  bench->PressStopAfterStatusReads(2);
  EXPECT_TRUE(hw::Check_NotStopBtn());
  EXPECT_FALSE(hw::Check_StopBtn());
  EXPECT_TRUE(hw::Check_StopBtn());

  bench->ResetProbe();
  const uint64_t t0 = bench->Now();
  hw::PowerOn();
  EXPECT_TRUE(hw::IsPowerOn());
  EXPECT_TRUE(bench->Level(TLine::Power));
  EXPECT_GE(bench->Now() - t0, 200000000u);
  const uint64_t t1 = bench->Now();
  hw::PowerOff();
  EXPECT_FALSE(hw::IsPowerOn());
  EXPECT_GE(bench->Now() - t1, 400000000u);
  EXPECT_EQ(bench->Probe().ChangeCount(TLine::Power), 2u);
  // Only bit 0 of the control register changes.
  hw::WritePort(0x37A, 0x04);
  hw::PowerOn();
  EXPECT_EQ(hw::ReadPort(0x37A) & 0x3F, 0x05);
}

TEST_F(PortsTest, SerialControlLines) {
  struct Case {
    void (*op)();
    TLine line;
    bool high;
  };
  const Case cases[] = {{hw::RTS_hi, TLine::RTS, true}, {hw::RTS_lo, TLine::RTS, false},
                        {hw::DTR_hi, TLine::DTR, true}, {hw::DTR_lo, TLine::DTR, false},
                        {hw::TXD_hi, TLine::TXD, true}, {hw::TXD_lo, TLine::TXD, false}};
  for (const auto& c : cases) {
    c.op();
    EXPECT_EQ(bench->Level(c.line), c.high) << sim::LineName(c.line);
  }
  // DTR sets its bit to go high; RTS and TXD clear theirs.
  hw::DTR_hi();
  hw::RTS_hi();
  hw::TXD_lo();
  EXPECT_EQ(Com2().Mcr() & 0x03, 0x01);
  EXPECT_EQ(Com2().Lcr() & 0x40, 0x40);
}

TEST_F(PortsTest, PortAddressOfNeedsTheExactNameAndAFreeDevice) {
  struct Case {
    const char* name;
    uint16_t want;
  };
  const Case cases[] = {{"LPT1", 0x378}, {"LPT2", 0x278}, {"LPT3", 0x3BC}, {"LPT4", 0},
                        {"COM1", 0x3F8}, {"COM2", 0x2F8}, {"COM3", 0x3E8}, {"COM4", 0x2E8},
                        {"lpt1", 0},     {"COM5", 0},     {"", 0},         {"LPT1 ", 0}};
  for (const auto& c : cases) EXPECT_EQ(hw::PortAddressOf(c.name), c.want) << c.name;
  EXPECT_EQ(hw::TableBaseOf("LPT2"), 0x278);

  bench->SetPortFile("LPT2", sim::TPortFile::Absent);
  bench->SetPortFile("COM3", sim::TPortFile::Busy);
  EXPECT_EQ(hw::PortAddressOf("LPT2"), 0);
  EXPECT_EQ(hw::PortAddressOf("COM3"), 0);

  ASSERT_GT(hw::OpenComPort(), 0);
  EXPECT_EQ(hw::PortAddressOf("COM2"), 0);  // our own open handle holds it
  hw::CloseComPort();
  EXPECT_EQ(hw::PortAddressOf("COM2"), 0x2F8);
}

TEST_F(PortsTest, OpenComPortSetsTheFormatOnceAndWarnsWhenItCannotOpen) {
  const int32_t h = hw::OpenComPort(9600);
  ASSERT_GT(h, 0);
  EXPECT_EQ(Com2().Format().divisor, 12);
  EXPECT_EQ(Com2().Lcr(), 0x03);  // 8N1, break off, divisor access off
  EXPECT_EQ(bench->In(0x2F9), 0x00);
  // Already open: same handle, format untouched.
  EXPECT_EQ(hw::OpenComPort(19200), h);
  EXPECT_EQ(Com2().Format().divisor, 12);
  hw::CloseComPort();
  EXPECT_EQ(hw::Ports().ComHandle, -1);
  EXPECT_TRUE(dialogs.messages.empty());

  bench->SetPortFile("COM2", sim::TPortFile::Busy);
  EXPECT_EQ(hw::OpenComPort(), -1);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].caption, "Warning");
  EXPECT_EQ(dialogs.messages[0].text, "COM2 is not open! See Options Com Port.");
  EXPECT_EQ(dialogs.messages[0].icon, platform::TMsgIcon::Exclamation);

  // A rate the serial driver refuses closes the port again, without a message.
  bench->SetPortFile("COM2", sim::TPortFile::Present);
  EXPECT_EQ(hw::OpenComPort(1000000), -1);
  EXPECT_EQ(hw::Ports().ComHandle, -1);
  EXPECT_FALSE(bench->IsOpen("COM2"));
  EXPECT_EQ(dialogs.messages.size(), 1u);
}

TEST_F(PortsTest, SetComBaudProgramsTheDivisorTable) {
  hw::SetComBaud(300);  // closed: nothing happens
  EXPECT_EQ(Com2().Format().divisor, 12);
  ASSERT_GT(hw::OpenComPort(), 0);
  const struct {
    uint16_t baud, divisor;
  } table[] = {{150, 768}, {300, 384}, {600, 192}, {1200, 96},  {1800, 64},
               {2000, 58}, {2400, 48}, {3600, 32}, {4800, 24},  {7200, 16},
               {7800, 14}, {9600, 12}, {19200, 6}, {12345, 12}, {38400, 12}};
  for (const auto& e : table) {
    hw::SetComBaud(e.baud);
    EXPECT_EQ(Com2().Format().divisor, e.divisor) << e.baud;
    EXPECT_EQ(Com2().Lcr(), 0x03) << "LCR restored after " << e.baud;
  }
}

TEST_F(PortsTest, ConfigComNeedsAnOpenPortAndAFormatTheDriverTakes) {
  EXPECT_FALSE(hw::ConfigCom(4800, 7, 2, 2));
  ASSERT_GT(hw::OpenComPort(), 0);
  EXPECT_TRUE(hw::ConfigCom(4800, 7, 2, 2));
  const sim::TSerialFormat f = Com2().Format();
  EXPECT_EQ(f.divisor, 24);
  EXPECT_EQ(f.dataBits, 7);
  EXPECT_EQ(f.parity, 2);
  EXPECT_EQ(f.stopBits, 2);
  EXPECT_FALSE(hw::ConfigCom(4800, 9, 0, 0));
  EXPECT_FALSE(hw::ConfigCom(0, 8, 0, 0));
}

TEST_F(PortsTest, ReadByteComPollsTheLineStatusAMillionTimesAtMost) {
  uint8_t data = 0x5A;
  EXPECT_FALSE(hw::ReadByteCom(data));  // not open: no polling at all
  ASSERT_GT(hw::OpenComPort(), 0);
  const uint64_t before = bench->AccessCount();
  EXPECT_FALSE(hw::ReadByteCom(data));
  EXPECT_EQ(bench->AccessCount() - before, hw::kComPollLimit);
  EXPECT_EQ(data, 0x5A);  // left as it was

  // A byte from the far end arrives one frame (10 bits at 9600 baud) later.
  const uint64_t t0 = bench->Now();
  bench->Uart(0x2F8).PeerSend(t0, 0xC3);
  ASSERT_TRUE(hw::ReadByteCom(data));
  EXPECT_EQ(data, 0xC3);
  EXPECT_GE(bench->Now() - t0, 10 * 1000000000ull / 9600);
  EXPECT_LT(bench->Now() - t0, 10 * 1000000000ull / 9600 + 10000);
}

TEST_F(PortsTest, WriteByteComWaitsForTheTransmitterAtTheBaudRate) {
  EXPECT_FALSE(hw::WriteByteCom(1));
  ASSERT_GT(hw::OpenComPort(), 0);
  hw::SetComBaud(19200);
  for (uint8_t b : {0x11, 0x22, 0x33}) EXPECT_TRUE(hw::WriteByteCom(b));
  bench->Advance(5000000);
  const auto& sent = Com2().Sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].byte, 0x11);
  EXPECT_EQ(sent[2].byte, 0x33);
  const uint64_t frame = 10ull * 6 * 16 * 1000000000ull / 1843200;  // 520833 ns
  EXPECT_EQ(sent[1].t - sent[0].t, frame);
  EXPECT_EQ(sent[2].t - sent[1].t, frame);
}

TEST_F(PortsTest, PlainPortAccessAndBases) {
  hw::WritePort(0x3BC, 0xA5);
  EXPECT_EQ(hw::ReadPort(0x3BC), 0xA5);
  EXPECT_EQ(hw::ReadPort(0x1234), 0xFF);  // nothing there
  EXPECT_EQ(hw::GetLPTPort(), 0x378);
  EXPECT_EQ(hw::GetComPort(), 0x2F8);
}

TEST_F(PortsTest, PrioritySwitchesAreRecorded) {
  hw::SetRealtimePriority();
  hw::SetHighPriority();
  hw::SetNormalPriority();
  using P = platform::TPriorityClass;
  EXPECT_EQ(platform::PriorityLog(), (std::vector<P>{P::RealTime, P::High, P::Normal}));
  EXPECT_EQ(static_cast<uint32_t>(P::RealTime), 0x100u);
  EXPECT_EQ(static_cast<uint32_t>(P::High), 0x80u);
  EXPECT_EQ(static_cast<uint32_t>(P::Normal), 0x20u);
}

TEST(PortsWithoutHardware, NullBackEndFloatsAndOpensNothing) {
  hw::SetIoBackend(nullptr);
  hw::ResetPortState();
  EXPECT_EQ(hw::PortAddressOf("LPT1"), 0);
  EXPECT_TRUE(hw::Check_In1());  // a floating bus reads 0xFF
  testing_support::TFakeDialogs dialogs;
  EXPECT_EQ(hw::OpenComPort(), -1);
  EXPECT_EQ(dialogs.messages.size(), 1u);
}

}  // namespace
