// The frame base, the device chooser, the programmer panel and the status and message
// windows, with a family frame whose cells are a plain array.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "framework/catalogue.h"
#include "framework/device_frame.h"
#include "framework/e2Base.h"
#include "framework/programmer_frame.h"
#include "framework/status.h"
#include "hexedit/bytescope.h"
#include "platform/app_hooks.h"
#include "support/bench_fixture.h"

namespace {

using framework::DeviceInfo;
using framework::IndexOfDeviceName;
using framework::MessageForm;
using testing_support::BenchTest;

// A family whose device is an array; it records every cell command it was given.
class TArrayFrame : public framework::TE2BaseFrame {
 public:
  std::vector<uint16_t> cells;
  std::vector<std::pair<char, uint32_t>> ops;
  uint32_t failAt = UINT32_MAX;
  bool AccessCell(char op, uint16_t& data, uint16_t, uint32_t address) override {
    ops.emplace_back(op, address);
    if (address == failAt) return false;
    if (op == 'R') data = address < cells.size() ? cells[address] : 0xFFFF;
    if (op == 'W' && address < cells.size()) cells[address] = data;
    if (op == 'S') data = 0x8C;
    return true;
  }
  std::vector<uint32_t> Addresses(char op) const {
    std::vector<uint32_t> r;
    for (const auto& [o, a] : ops)
      if (o == op) r.push_back(a);
    return r;
  }
};

class FrameTest : public BenchTest {
 protected:
  void SetUp() override {
    BenchTest::SetUp();
    hw::Ports().Delay = 500000;
    MessageForm().ClearMessagesClick();
    MessageForm().Hide();
    frame.SetBuffer(&buffer);
  }
  void TearDown() override {
    platform::SetProcessMessagesHandler(nullptr);
    BenchTest::TearDown();
  }
  void Pick(const char* name) {
    const int index = IndexOfDeviceName(name);
    ASSERT_GE(index, 0) << name;
    frame.SetDevice(static_cast<uint16_t>(index));
    frame.cells.assign(
        DeviceInfo(index).Width == 16 ? DeviceInfo(index).Size / 2 : DeviceInfo(index).Size,
        0xFFFF);
  }
  void Range(const char* start, const char* end) {
    frame.EndEdit.Caption = end;
    frame.EndEditChange();
    frame.StartEdit.Caption = start;
    frame.StartEditChange();
  }
  const std::string& LastLine() { return MessageForm().MessageList().back(); }

  hexedit::TBytescope buffer;
  TArrayFrame frame;
};

TEST_F(FrameTest, SetDeviceTakesTheWholeDevice) {
  Pick("24C01");
  EXPECT_EQ(frame.StartEdit.Caption, "0");
  EXPECT_EQ(frame.EndEdit.Caption, "7F");
  EXPECT_EQ(buffer.DataSize(), 128);
  EXPECT_TRUE(buffer.Modified());
  EXPECT_FALSE(frame.EraseBtn.Visible);
  for (const auto& row : framework::E2Info())
    if (row.Flags & framework::kFlagEraseAll) {
      frame.SetDevice(static_cast<uint16_t>(IndexOfDeviceName(row.Name)));
      EXPECT_TRUE(frame.EraseBtn.Visible) << row.Name;
      break;
    }
}

TEST_F(FrameTest, RangeEditsRefuseWhatTheyCannotTake) {
  Pick("24C02");
  struct Case {
    bool start;
    const char* text;
    const char* shown;
    int beeps;
  };
  const Case cases[] = {
      {false, "80", "80", 0},  {true, "10", "10", 0}, {true, "1g", "10", 1},
      {true, "", "10", 2},     {true, "81", "10", 3}, {true, "-1", "10", 4},
      {false, "100", "80", 5}, {false, "5", "5", 5},  // no check against the start
  };
  for (const auto& c : cases) {
    framework::TControl& edit = c.start ? frame.StartEdit : frame.EndEdit;
    edit.Caption = c.text;
    c.start ? frame.StartEditChange() : frame.EndEditChange();
    EXPECT_EQ(edit.Caption, c.shown) << c.text;
    EXPECT_EQ(dialogs.beeps, c.beeps) << c.text;
    if (std::string(c.text) != c.shown) {
      EXPECT_EQ(edit.SelLength, static_cast<int>(edit.Caption.size())) << "refused text selected";
    }
  }
  EXPECT_EQ(frame.StartAddress(), 0x10);
  EXPECT_EQ(frame.EndAddress(), 5);
}

TEST_F(FrameTest, RangeOperationsMoveDataAndReport) {
  Pick("24C512");
  for (size_t i = 0; i < frame.cells.size(); ++i)
    frame.cells[i] = static_cast<uint16_t>(i * 7 & 0xFF);
  EXPECT_TRUE(frame.ReadRange());
  EXPECT_EQ(frame.Addresses('R').back(), 65535u);
  EXPECT_EQ(buffer.GetByte(65535), (65535 * 7) & 0xFF);
  EXPECT_EQ(LastLine(), "Reading: Success  Device: 24C512 Range: 0 - FFFF");
  EXPECT_FALSE(MessageForm().Visible());

  frame.ops.clear();
  buffer.SetByte(0x10, 0x55);
  Range("10", "12");
  EXPECT_TRUE(frame.ProgramRange());
  // One enable at address 0, then erase-and-write for every cell.
  EXPECT_EQ(frame.ops.front(), std::make_pair('E', 0u));
  EXPECT_EQ(frame.Addresses('C'), (std::vector<uint32_t>{0x10, 0x11, 0x12}));
  EXPECT_EQ(frame.Addresses('W'), (std::vector<uint32_t>{0x10, 0x11, 0x12}));
  EXPECT_EQ(frame.cells[0x10], 0x55);

  // Verify with three differences and every read answered.
  for (uint32_t a : {0x10u, 0x11u, 0x12u}) frame.cells[a] ^= 0x0F;
  EXPECT_FALSE(frame.VerifyRange());
  EXPECT_EQ(framework::e2StatusForm().StatusText(), " Verifying... 3 Errors Found");
  EXPECT_EQ(LastLine(), "Verifying:  3 Errors Found  Device: 24C512 Range: 10 - 12");
  const auto& list = MessageForm().MessageList();
  EXPECT_EQ(list[list.size() - 4], "Verify Error [10] = 55 Read 5A");
  EXPECT_TRUE(MessageForm().Visible());
  EXPECT_EQ(MessageForm().ItemIndex(), static_cast<int>(list.size()) - 1);

  // An end below the start handles exactly the start cell.
  frame.ops.clear();
  Range("20", "12");
  EXPECT_EQ(frame.StartAddress(), 0x10);  // 20 > end: refused
  frame.EndEdit.Caption = "8";
  frame.EndEditChange();
  EXPECT_TRUE(frame.ReadRange());
  EXPECT_EQ(frame.Addresses('R'), (std::vector<uint32_t>{0x10}));
}

TEST_F(FrameTest, SixteenBitCellsAndTheBlankCheck) {
  Pick("93C46 x16");
  ASSERT_EQ(DeviceInfo(frame.DeviceIndex()).Width, 16u);
  frame.cells[1] = 0x1234;
  frame.cells[4] = 0xABCD;
  Range("3", "8");
  EXPECT_TRUE(frame.ReadRange());
  EXPECT_EQ(frame.Addresses('R'), (std::vector<uint32_t>{1, 2, 3, 4}));
  EXPECT_EQ(buffer.GetByte(2), 0x12);
  EXPECT_EQ(buffer.GetByte(3), 0x34);
  EXPECT_EQ(buffer.GetByte(8), 0xAB);
  EXPECT_EQ(buffer.GetByte(9), 0xCD);

  // The blank check covers the whole device, whatever the edits hold.
  frame.ops.clear();
  EXPECT_FALSE(frame.BlankCheck());
  EXPECT_EQ(frame.Addresses('R').size(), DeviceInfo(frame.DeviceIndex()).Size / 2);
  EXPECT_EQ(LastLine(), "Blank Checking:  2 Errors Found  Device: 93C46 x16 Range: 0 - 7F");
}

TEST_F(FrameTest, CancelStopsAfterTheCellUnderWay) {
  Pick("24C02");
  for (size_t i = 0; i < frame.cells.size(); ++i) frame.cells[i] = static_cast<uint16_t>(i);
  int cells = 0;
  platform::SetProcessMessagesHandler([&] {
    if (++cells == 5) framework::e2StatusForm().CancelClick();
  });
  EXPECT_TRUE(frame.ReadRange());
  EXPECT_EQ(frame.Addresses('R').size(), 5u);
  EXPECT_EQ(buffer.GetByte(4), 4);
  EXPECT_EQ(framework::e2StatusForm().StatusText(), " Reading... User Break");
  EXPECT_EQ(LastLine(), "Reading: User Break  Device: 24C02 Range: 0 - FF");
  EXPECT_FALSE(MessageForm().Visible());

  // A failing primitive stops at its cell; the message window comes up.
  platform::SetProcessMessagesHandler(nullptr);
  frame.failAt = 7;
  frame.ops.clear();
  EXPECT_FALSE(frame.ProgramRange());
  EXPECT_EQ(frame.Addresses('W').back(), 7u);
  EXPECT_EQ(LastLine(), "Programming: Errors Found  Device: 24C02 Range: 0 - FF");
  EXPECT_TRUE(MessageForm().Visible());
}

TEST_F(FrameTest, StatusRegisterAndPowerAroundEveryOperation) {
  Pick("25C040");
  bench->ResetProbe();
  EXPECT_TRUE(frame.ReadStatusRegister());
  EXPECT_EQ(frame.RegisterEdit.Caption, "8C");
  EXPECT_EQ(LastLine(), "Success  Device: 25C040 Range: 0 - 1FF");  // no prefix in mode 5
  const auto power = bench->Probe().EventsOf(sim::TLine::Power);
  ASSERT_EQ(power.size(), 2u);
  EXPECT_TRUE(power[0].level);
  EXPECT_GE(power[1].t - power[0].t, 200000000u);  // 200 ms after power on
  EXPECT_FALSE(hw::IsPowerOn());

  frame.ops.clear();
  frame.RegisterEdit.Caption = "zz";
  EXPECT_FALSE(frame.WriteStatusRegister());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "Wrong Register value");
  EXPECT_EQ(frame.Addresses('T').size(), 0u);
  frame.RegisterEdit.Caption = "8c";
  EXPECT_TRUE(frame.WriteStatusRegister());
  EXPECT_EQ(frame.ops.front().first, 'E');
  EXPECT_EQ(frame.ops.back().first, 'T');
}

TEST(StatusWindow, TextsOfTheModes) {
  auto& status = framework::e2StatusForm();
  status.OnCloseWait = [] {};
  const int index = IndexOfDeviceName("24C02");
  status.BeginStatus(framework::smRead, index, 0, 0xFF);
  EXPECT_TRUE(status.Visible());
  EXPECT_EQ(status.DeviceLabel(), "24C02");
  EXPECT_EQ(status.RangeLabel(), "0 - FF");
  EXPECT_TRUE(status.CancelVisible());
  status.ShowProgress(0x1A);
  EXPECT_EQ(status.StatusText(), " Reading... 1A");
  status.ShowProgress(0x123);
  EXPECT_EQ(status.StatusText(), " Reading... 123");
  status.ShowProgress(5);
  EXPECT_EQ(status.StatusText(), " Reading... 05");
  status.EndStatus(true, false, 0);
  EXPECT_FALSE(status.Visible());
  EXPECT_EQ(MessageForm().MessageList().back(), "Reading: Success  Device: 24C02 Range: 0 - FF");

  status.BeginStatus(framework::smEmulate, index, 0, 0xFF);
  EXPECT_FALSE(status.CancelVisible());
  EXPECT_TRUE(status.PushBtnLabelVisible());
  status.EndStatus(true, false, 0);
  status.BeginStatus(framework::smSaveStatus, IndexOfDeviceName("93C46"), 0x10, 0x7F);
  status.EndStatus(false, false, 0);
  EXPECT_EQ(MessageForm().MessageList().back(), "Errors Found  Device: 93C46 Range: 10 - 7F");
  status.OnCloseWait = nullptr;
}

TEST(MessageWindow, PositionIsKeptInTheSettings) {
  framework::TMessageForm form;
  platform::TSettingsStore store;
  form.ReadSettings(store);  // missing: the design size stays
  EXPECT_EQ(form.Bounds(), (platform::TRect{0, 0, 429, 154}));
  form.SetBounds({10, 20, 510, 320});
  form.WriteSettings(store);
  framework::TMessageForm again;
  again.ReadSettings(store);
  EXPECT_EQ(again.Bounds(), (platform::TRect{10, 20, 510, 320}));
  form.Add("a");
  form.Toggle();
  EXPECT_TRUE(form.Visible());
  form.ClearMessagesClick();
  EXPECT_TRUE(form.MessageList().empty());
}

TEST(DeviceChooser, ListsFiltersAndSelects) {
  framework::TDeviceFrame chooser;
  std::vector<uint16_t> picked;
  chooser.OnSelectDevice = [&](framework::TDeviceFrame&, uint16_t i) { picked.push_back(i); };
  chooser.CreateWnd();
  EXPECT_EQ(chooser.SelectDeviceBox.Items.size(), 70u);
  ASSERT_EQ(picked, (std::vector<uint16_t>{0}));  // "File": index 0, no information
  EXPECT_EQ(chooser.e2InfoText.Caption, "");

  chooser.FilterDevices(0x02);
  EXPECT_EQ(chooser.SelectDeviceBox.Items.size(), 70u);
  chooser.FilterDevices(0x10);
  EXPECT_EQ(chooser.SelectDeviceBox.Items.size(), 23u);
  EXPECT_EQ(chooser.SelectedIndex(), framework::TDeviceFrame::kNoDevice);
  EXPECT_EQ(picked.size(), 1u);  // nothing selected, nothing reported

  chooser.CreateWnd();
  EXPECT_TRUE(chooser.SelectDeviceByCode("i2cn02"));
  EXPECT_EQ(chooser.SelectedIndex(), IndexOfDeviceName("24C02"));
  EXPECT_FALSE(chooser.SelectDeviceByCode("nothing"));
  EXPECT_EQ(chooser.SelectedIndex(), IndexOfDeviceName("24C02"));
}

TEST(ProgrammerPanel, DispatchesByCodePrefix) {
  testing_support::TFakeDialogs dialogs;
  hexedit::TBytescope buffer;
  framework::TProgrammerFrame panel(&buffer);
  panel.CreateWnd();
  EXPECT_EQ(panel.DeviceFrame1.SelectDeviceBox.Items.size(), 70u);
  EXPECT_FALSE(panel.DeviceFrame1.RunButton.Visible);
  EXPECT_EQ(panel.DeviceFrame2.SelectDeviceBox.Items.size(), 23u);
  EXPECT_EQ(panel.FrontFrame(), nullptr);

  ASSERT_TRUE(panel.DeviceFrame1.SelectByName("File"));
  EXPECT_EQ(panel.FrontFrame(), panel.FrameOf("file"));
  EXPECT_TRUE(dialogs.messages.empty());

  // Every prefix of the catalogue has a frame; one this version cannot program says so.
  for (const auto& row : framework::E2Info())
    EXPECT_NE(panel.FrameOf(std::string(row.Code).substr(0, 4)), nullptr) << row.Name;
  ASSERT_TRUE(panel.DeviceFrame1.SelectByName("24C02"));
  EXPECT_EQ(panel.FrontFrame(), panel.FrameOf("i2cn"));
  if (auto* unavailable = dynamic_cast<framework::TUnavailableFrame*>(panel.FrontFrame())) {
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, unavailable->InfoLabel.Caption);
  }
  ASSERT_TRUE(panel.DeviceFrame1.SelectByName("GRM-003"));
  EXPECT_EQ(panel.FrontFrame(), panel.FrameOf("i2cn"));

  // The Emulator tab's list: cleared, and saved one line each.
  panel.ListBox1.Items = {"first", "second"};
  const std::string file = testing::TempDir() + "emulator-list.txt";
  dialogs.fileNames.push_back(file);
  EXPECT_TRUE(panel.SaveClick());
  std::ifstream in(file);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(all, "first\nsecond\n");
  EXPECT_FALSE(panel.SaveClick());  // cancelled
  panel.ClearListClick();
  EXPECT_TRUE(panel.ListBox1.Items.empty());
}

}  // namespace
