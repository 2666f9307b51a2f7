// The dev back end's serial side on a pseudo-terminal: the program's COM port is the pty
// slave (VARNIX_COM1), the test plays the device on the master.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hw/backends/dev.h"
#include "hw/backends/linux_port_files.h"
#include "hw/ports.h"
#include "platform/priority.h"
#include "support/fake_dialogs.h"

namespace {

using namespace std::chrono_literals;

class DevSerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master_, 0) << "no pseudo-terminals here";
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slave_ = ptsname(master_);
    // Keep one reference to the slave so the pty survives the program's open and close.
    keep_ = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(keep_, 0);
    setenv("VARNIX_COM1", slave_.c_str(), 1);

    hw::ResetPortState();
    std::string reason;
    dev_ = hw::TDevBackend::Create("", "COM1", reason);
    ASSERT_TRUE(dev_) << reason;
    hw::SetIoBackend(dev_.get());
    platform::EnableSystemPriorities(false);  // no SCHED_FIFO busy loops in tests
    auto& p = hw::Ports();
    p.ComPort = "COM1";
    p.ComBase = hw::PortAddressOf("COM1");
    hw::SetComRegisters();
  }

  void TearDown() override {
    hw::ResetPortState();
    hw::SetIoBackend(nullptr);
    dev_.reset();
    if (keep_ >= 0) close(keep_);
    if (master_ >= 0) close(master_);
    unsetenv("VARNIX_COM1");
  }

  // What the device receives, waiting at most `limit` for `n` bytes.
  std::vector<uint8_t> MasterRead(size_t n, std::chrono::milliseconds limit = 2s) {
    std::vector<uint8_t> got;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (got.size() < n && std::chrono::steady_clock::now() < end) {
      pollfd pfd{master_, POLLIN, 0};
      if (poll(&pfd, 1, 20) <= 0) continue;
      uint8_t buf[64];
      const ssize_t r = read(master_, buf, sizeof buf);
      if (r > 0) got.insert(got.end(), buf, buf + r);
    }
    return got;
  }

  void MasterWrite(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // The pty delivers asynchronously; wait (bounded) until LSR shows data ready.
  bool DataReady(std::chrono::milliseconds limit = 2s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (hw::ReadPort(hw::Ports().ComLSR) & 0x01) return true;
      usleep(1000);
    }
    return false;
  }

  // Whether another program could take the slave now.
  bool ForeignOpenSucceeds() {
    const int fd = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    const bool locked = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return locked;
  }

  testing_support::TFakeDialogs dialogs_;
  int master_ = -1, keep_ = -1;
  std::string slave_;
  std::unique_ptr<hw::TDevBackend> dev_;
};

TEST_F(DevSerialTest, ThePortOpensExclusively) {
  ASSERT_EQ(hw::Ports().ComBase, 0x3F8);
  const int32_t h = hw::OpenComPort(9600);
  ASSERT_GT(h, 0) << dev_->LastError();
  EXPECT_TRUE(dialogs_.messages.empty());

  std::string reason;
  EXPECT_EQ(hw::Io().OpenPortFile("COM1", &reason), -1);
  EXPECT_EQ(reason, slave_ + ": already open in this program");
  EXPECT_EQ(hw::PortAddressOf("COM1"), 0);
  EXPECT_FALSE(ForeignOpenSucceeds());

  hw::CloseComPort();
  EXPECT_TRUE(ForeignOpenSucceeds());
  EXPECT_EQ(hw::PortAddressOf("COM1"), 0x3F8);
}

TEST_F(DevSerialTest, LineFormatRoundTrips) {
  const int32_t h = hw::OpenComPort(9600);
  ASSERT_GT(h, 0);
  hw::TCommState st;
  ASSERT_TRUE(hw::Io().GetCommState(h, st));
  EXPECT_EQ(st.BaudRate, 9600u);
  EXPECT_EQ(st.ByteSize, 8);
  EXPECT_EQ(st.Parity, 0);
  EXPECT_EQ(st.StopBits, 0);

  // A pty keeps any rate and the stop bits, but the kernel forces it to eight bits
  // without parity; those are covered by the flag mapping test below.
  const hw::TCommState formats[] = {
      {7800, 8, 0, 2},  // a rate outside the termios table
      {2000, 8, 0, 0},
      {19200, 8, 0, 2},
      {115200, 8, 0, 0},
  };
  for (const auto& f : formats) {
    SCOPED_TRACE(f.BaudRate);
    ASSERT_TRUE(hw::ConfigCom(static_cast<int32_t>(f.BaudRate), f.ByteSize, f.Parity, f.StopBits))
        << dev_->LastError();
    hw::TCommState back;
    ASSERT_TRUE(hw::Io().GetCommState(h, back));
    EXPECT_EQ(back.BaudRate, f.BaudRate);
    EXPECT_EQ(back.StopBits, f.StopBits);
  }

  const hw::TCommState refused[] = {{0, 8, 0, 0},    {9600, 9, 0, 0}, {9600, 8, 5, 0},
                                    {9600, 8, 0, 1}, {9600, 5, 0, 2}, {9600, 8, 0, 3}};
  for (const auto& f : refused) {
    EXPECT_FALSE(hw::Io().SetCommState(h, f));
    EXPECT_EQ(dev_->LastError().rfind(slave_ + ": ", 0), 0u) << dev_->LastError();
  }
  EXPECT_FALSE(hw::Io().GetCommState(12345, st));  // not a handle of ours
}

TEST_F(DevSerialTest, BytesTravelThroughTheUartRegisters) {
  ASSERT_GT(hw::OpenComPort(9600), 0);
  EXPECT_EQ(hw::ReadPort(hw::Ports().ComLSR) & 0x01, 0);  // nothing waiting
  EXPECT_EQ(hw::ReadPort(hw::Ports().ComLSR) & 0x60, 0x60);

  for (const uint8_t b : {0x00, 0x5A, 0xFF, 0x0A}) ASSERT_TRUE(hw::WriteByteCom(b));
  EXPECT_EQ(MasterRead(4), (std::vector<uint8_t>{0x00, 0x5A, 0xFF, 0x0A}));

  MasterWrite({0xA5, 0x0D, 0x03});
  ASSERT_TRUE(DataReady());
  std::vector<uint8_t> got;
  uint8_t b = 0;
  while (got.size() < 3 && hw::ReadByteCom(b)) got.push_back(b);
  EXPECT_EQ(got, (std::vector<uint8_t>{0xA5, 0x0D, 0x03}));  // raw: no CR or ^C handling
  EXPECT_EQ(hw::ReadPort(hw::Ports().ComLSR) & 0x01, 0);
  // The holding register keeps the last byte received.
  EXPECT_EQ(hw::ReadPort(hw::Ports().ComRBR), 0x03);
}

TEST_F(DevSerialTest, DivisorAndLineControlBecomeTheTtyFormat) {
  const int32_t h = hw::OpenComPort(9600);
  ASSERT_GT(h, 0);
  const auto& p = hw::Ports();
  EXPECT_EQ(hw::ReadPort(p.ComLCR), 0x03);

  hw::SetComBaud(7800);  // divisor 14: 115200 / 14 = 8228.6
  hw::TCommState st;
  ASSERT_TRUE(hw::Io().GetCommState(h, st));
  EXPECT_EQ(st.BaudRate, 8229u);
  EXPECT_EQ(hw::ReadPort(p.ComLCR), 0x03);

  // While the latch is open it shows the divisor of the current rate.
  hw::WritePort(p.ComLCR, 0x83);
  EXPECT_EQ(hw::ReadPort(p.ComRBR), 14);
  EXPECT_EQ(hw::ReadPort(p.ComIER), 0);
  hw::WritePort(p.ComLCR, 0x03);  // closed without a divisor write: rate unchanged
  ASSERT_TRUE(hw::Io().GetCommState(h, st));
  EXPECT_EQ(st.BaudRate, 8229u);

  ASSERT_TRUE(hw::ConfigCom(9600, 8, 0, 2));
  EXPECT_EQ(hw::ReadPort(p.ComLCR), 0x07);  // the register shows the tty's format
  hw::TXD_lo();                             // break on keeps the format
  EXPECT_EQ(hw::ReadPort(p.ComLCR), 0x47);
  hw::TXD_hi();
  ASSERT_TRUE(hw::Io().GetCommState(h, st));
  EXPECT_EQ(st.StopBits, 2);
  EXPECT_EQ(st.BaudRate, 9600u);

  hw::WritePort(p.ComLCR, 0x03);  // one stop bit, written through the register
  ASSERT_TRUE(hw::Io().GetCommState(h, st));
  EXPECT_EQ(st.StopBits, 0);
  EXPECT_EQ(hw::ReadPort(p.ComLCR), 0x03);
}

// Every format the system's codes allow survives the way to c_cflag and to the line
// control register and back.
TEST(DevFormatMapping, CflagAndLineControlRoundTrip) {
  for (uint8_t size = 5; size <= 8; ++size) {
    for (uint8_t parity = 0; parity <= 4; ++parity) {
      for (uint8_t stop = 0; stop <= 2; ++stop) {
        if ((stop == 1) != (size == 5) && stop != 0) continue;
        const hw::TCommState f{9600, size, parity, stop};
        SCOPED_TRACE(testing::Message() << int(size) << " " << int(parity) << " " << int(stop));
        hw::TCommState viaCflag, viaLcr;
        hw::FormatFromCflag(hw::FormatCflag(f), viaCflag);
        hw::TDevBackend::ApplyLcrFormat(hw::TDevBackend::LcrFormatOf(f), viaLcr);
        for (const auto& back : {viaCflag, viaLcr}) {
          EXPECT_EQ(back.ByteSize, size);
          EXPECT_EQ(back.Parity, parity);
          EXPECT_EQ(back.StopBits, stop);
        }
      }
    }
  }
  // The register layout itself: 7 bits even parity, and 8 bits two stops mark parity.
  EXPECT_EQ(hw::TDevBackend::LcrFormatOf({9600, 7, 2, 0}), 0x1A);
  EXPECT_EQ(hw::TDevBackend::LcrFormatOf({9600, 8, 3, 2}), 0x2F);
}

TEST_F(DevSerialTest, ModemLinesOnAPtyFailWithoutHarm) {
  ASSERT_GT(hw::OpenComPort(9600), 0);
  const auto& p = hw::Ports();
  // A pty has no modem lines: the requests are refused, the register keeps what was
  // written so read-modify-write stays consistent, and the refusal is on record.
  hw::RTS_lo();
  hw::DTR_hi();
  EXPECT_EQ(hw::ReadPort(p.ComMCR) & 0x03, 0x03);
  hw::RTS_hi();
  hw::DTR_lo();
  EXPECT_EQ(hw::ReadPort(p.ComMCR) & 0x03, 0x00);
  const uint8_t msr = static_cast<uint8_t>(hw::ReadPort(p.ComMSR));
  EXPECT_EQ(msr & 0x0F, 0);  // no deltas without lines
  (void)hw::Check_CTS();
  if (dev_->FailedAccesses() > 0) {
    EXPECT_NE(dev_->LastError().find(slave_ + ": TIOCM"), std::string::npos) << dev_->LastError();
  }
  // The data path is unaffected.
  ASSERT_TRUE(hw::WriteByteCom(0x42));
  EXPECT_EQ(MasterRead(1), std::vector<uint8_t>{0x42});
}

TEST_F(DevSerialTest, RegisterUseBeforeOpeningHoldsThePortUntilTheProgramTakesIt) {
  // A line operation before OpenComPort opens the tty on its own ...
  hw::RTS_lo();
  EXPECT_FALSE(ForeignOpenSucceeds());
  // ... and the program's open takes that descriptor over.
  const int32_t h = hw::OpenComPort(9600);
  ASSERT_GT(h, 0) << dev_->LastError();
  EXPECT_EQ(hw::PortAddressOf("COM1"), 0);
  hw::CloseComPort();
  EXPECT_TRUE(ForeignOpenSucceeds());
  EXPECT_EQ(hw::PortAddressOf("COM1"), 0x3F8);
}

TEST_F(DevSerialTest, AMissingTtyFloatsAndWarns) {
  setenv("VARNIX_COM1", "/nonexistent/varnix-test/tty", 1);
  std::string reason;
  auto dev = hw::TDevBackend::Create("", "COM1", reason);
  ASSERT_TRUE(dev);  // the serial port is optional until used
  hw::SetIoBackend(dev.get());
  EXPECT_EQ(hw::ReadPort(0x3FD), 0xFF);
  EXPECT_EQ(dev->LastError(), "/nonexistent/varnix-test/tty: No such file or directory");
  EXPECT_EQ(hw::OpenComPort(9600), -1);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].text, "COM1 is not open! See Options Com Port.");
  hw::SetIoBackend(dev_.get());
}

}  // namespace
