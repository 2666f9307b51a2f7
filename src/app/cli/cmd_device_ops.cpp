// The device operations of the programmer panel on the command line: read, program,
// verify, blank, erase and emulate. Each runs the same frame the panel would bring
// forward for the device, with the status window's progress on standard error and the
// message window's lines on standard output.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <ostream>

#include "app/cli/cli.h"
#include "app/cli/hardware.h"
#include "base/convert.h"
#include "base/format.h"
#include "framework/catalogue.h"
#include "framework/e2Base.h"
#include "framework/programmer_frame.h"
#include "framework/status.h"
#include "hexedit/bytescope.h"
#include "hexedit/file_io.h"
#include "hexedit/formats.h"

namespace app {

namespace {

enum class TOp { Read, Program, Verify, Blank, Erase };

struct TOpOptions {
  std::string device, file, start, end;
  bool verify = false;
  bool force = false;
};

// Shows the status window on a terminal as one line that redraws itself.
class TProgressLine {
 public:
  explicit TProgressLine(std::ostream& err) : err_(err), tty_(isatty(STDERR_FILENO) != 0) {
    auto& status = framework::e2StatusForm();
    status.OnCloseWait = [] {};  // no window to keep up on a terminal
    status.OnChange = [this](const framework::Te2StatusForm& s) { Draw(s); };
  }
  ~TProgressLine() {
    auto& status = framework::e2StatusForm();
    status.OnChange = nullptr;
    status.OnCloseWait = nullptr;
  }

 private:
  void Draw(const framework::Te2StatusForm& s) {
    if (!tty_) return;
    if (!s.Visible()) {
      err_ << "\r\033[K" << std::flush;
      return;
    }
    const double span = static_cast<double>(s.RangeEnd()) - s.RangeStart();
    const double done =
        span > 0 ? (static_cast<double>(s.ProgressAddress()) - s.RangeStart()) / span : 1.0;
    const int filled = static_cast<int>(done * 30 + 0.5);
    if (filled == lastFilled_ && s.StatusText() == lastText_) return;
    lastFilled_ = filled;
    lastText_ = s.StatusText();
    err_ << "\r\033[K[" << std::string(std::max(0, filled), '#')
         << std::string(std::max(0, 30 - filled), ' ') << "] " << s.StatusText() << std::flush;
  }
  std::ostream& err_;
  bool tty_;
  int lastFilled_ = -1;
  std::string lastText_;
};

// Everything one device operation needs, set up in the order the program starts.
class TDeviceJob {
 public:
  explicit TDeviceJob(TCliContext& ctx) : ctx_(ctx) {}
  ~TDeviceJob() { framework::MessageForm().OnLine = nullptr; }

  // Resolves the device and checks the range text before any hardware is touched.
  bool Resolve(const TOpOptions& o) {
    index_ = framework::FindDeviceByName(o.device);
    if (index_ < 0) {
      *ctx_.err << "varnix22: unknown device \"" << o.device
                << "\" (varnix22 devices lists them)\n";
      ctx_.exitCode = kExitUsage;
      return false;
    }
    const auto& row = framework::DeviceInfo(index_);
    if (std::string(row.Code).rfind("file", 0) == 0) {
      *ctx_.err << "varnix22: \"" << row.Name << "\" is not a device\n";
      ctx_.exitCode = kExitUsage;
      return false;
    }
    const int64_t last = static_cast<int64_t>(row.Size) - 1;
    start_ = 0;
    end_ = last;
    if (!o.end.empty() && !ParseAddress("--end", o.end, 0, last, end_)) return false;
    if (!o.start.empty() && !ParseAddress("--start", o.start, 0, end_, start_)) return false;
    return true;
  }

  // Opens the hardware, creates the panel and brings the device's frame forward.
  bool Open() {
    panel_ = std::make_unique<framework::TProgrammerFrame>(&buffer_);
    panel_->CreateWnd();
    if (!session_.Open(ctx_, framework::DeviceInfo(index_).Name)) {
      ctx_.exitCode = kExitFailed;
      return false;
    }
    framework::MessageForm().OnLine = [this](const std::string& line) {
      *ctx_.out << line << "\n";
    };
    panel_->Dispatch(static_cast<uint16_t>(index_));  // an unavailable family warns here
    frame_ = dynamic_cast<framework::TE2BaseFrame*>(panel_->FrontFrame());
    if (!frame_) {
      if (!dynamic_cast<framework::TUnavailableFrame*>(panel_->FrontFrame()))
        *ctx_.err << "varnix22: " << framework::DeviceInfo(index_).Name
                  << " is not programmed through the serial-memory panel\n";
      ctx_.exitCode = kExitFailed;
      return false;
    }
    frame_->StartEdit.Caption = base::Format("%x", start_);
    frame_->EndEdit.Caption = base::Format("%x", end_);
    frame_->EndEditChange();
    frame_->StartEditChange();
    return true;
  }

  hexedit::TBytescope& Buffer() { return buffer_; }
  framework::TE2BaseFrame& Frame() { return *frame_; }
  const framework::TE2Info& Row() const { return framework::DeviceInfo(index_); }

 private:
  bool ParseAddress(const char* what, const std::string& text, int64_t lo, int64_t hi,
                    int64_t& out) {
    const auto v = base::HexEntryToInt64(text);
    if (!v || *v < lo || *v > hi) {
      *ctx_.err << base::Format("varnix22: %s %s is not an address from %x to %x of %s\n", what,
                                text, lo, hi, framework::DeviceInfo(index_).Name);
      ctx_.exitCode = kExitUsage;
      return false;
    }
    out = *v;
    return true;
  }

  TCliContext& ctx_;
  int index_ = -1;
  int64_t start_ = 0, end_ = 0;
  hexedit::TBytescope buffer_;
  std::unique_ptr<framework::TProgrammerFrame> panel_;
  THardwareSession session_;
  framework::TE2BaseFrame* frame_ = nullptr;
};

// Reads an image file in the format its extension names.
bool LoadImage(TCliContext& ctx, hexedit::TBytescope& image, const std::string& file) {
  hexedit::TFileError error;
  if (!hexedit::ReadBufferFile(image, file, hexedit::FormatOfName(file), &error)) {
    *ctx.err << "varnix22: " << error.Message() << "\n";
    ctx.exitCode = kExitUsage;
    return false;
  }
  return true;
}

void RunOp(TCliContext& ctx, TOp op, TOpOptions o) {
  TDeviceJob job(ctx);
  const bool withImage = op == TOp::Program || op == TOp::Verify;
  // The image is read before the device is touched, so a bad file costs nothing.
  hexedit::TBytescope image;
  if (withImage && !LoadImage(ctx, image, o.file)) return;
  if (withImage && o.end.empty() && o.start.empty() && image.DataSize() > 0) {
    // A file shorter than the device covers only its own addresses.
    const int index = framework::FindDeviceByName(o.device);
    if (index >= 0 && static_cast<uint32_t>(image.DataSize()) < framework::DeviceInfo(index).Size)
      o.end = base::Format("%x", image.DataSize() - 1);
  }
  if (!job.Resolve(o)) return;
  if (op == TOp::Read && hexedit::FileExists(o.file) && !o.force) {
    *ctx.err << "varnix22: " << o.file << " exists; add --force to replace it\n";
    ctx.exitCode = kExitUsage;
    return;
  }
  if (op == TOp::Erase && !(job.Row().Flags & framework::kFlagEraseAll)) {
    *ctx.err << "varnix22: " << job.Row().Name << " has no erase command\n";
    ctx.exitCode = kExitUsage;
    return;
  }
  if (!job.Open()) return;
  // Choosing the device sized the buffer to it; the file's bytes go in at their addresses.
  if (op == TOp::Program || op == TOp::Verify) {
    const int32_t size = job.Buffer().DataSize();
    if (image.DataSize() > size)
      *ctx.err << base::Format("varnix22: %s holds %d bytes; %s takes %d, the rest is ignored\n",
                               o.file, image.DataSize(), job.Row().Name, size);
    for (int32_t i = 0; i < size; ++i) job.Buffer().SetByte(i, image.GetByte(i));
  }

  TProgressLine progress(*ctx.err);
  bool ok = false;
  switch (op) {
    case TOp::Read:
      ok = job.Frame().ReadRange();
      if (ok) {
        // Only the range read goes to the file.
        const int32_t first = job.Frame().StartAddress(), last = job.Frame().EndAddress();
        hexedit::TBytescope out;
        std::vector<uint8_t> bytes;
        for (int32_t a = first; a <= std::max(first, last); ++a)
          bytes.push_back(job.Buffer().GetByte(a));
        out.TakeContent(std::move(bytes), o.file);
        hexedit::TFileError error;
        if (!hexedit::WriteBufferFile(out, o.file, hexedit::FormatOfName(o.file), false, &error)) {
          *ctx.err << "varnix22: " << error.Message() << "\n";
          ok = false;
        }
      }
      break;
    case TOp::Program:
      ok = job.Frame().ProgramRange();
      if (ok && o.verify) ok = job.Frame().VerifyRange();
      break;
    case TOp::Verify:
      ok = job.Frame().VerifyRange();
      break;
    case TOp::Blank:
      ok = job.Frame().BlankCheck();
      break;
    case TOp::Erase:
      ok = job.Frame().EraseAll();
      break;
  }
  ctx.exitCode = ok ? kExitOk : kExitFailed;
}

CLI::App* AddCommand(CLI::App& app, TCliContext& ctx, const char* name, const char* help, TOp op,
                     bool withFile, bool withRange) {
  auto o = std::make_shared<TOpOptions>();
  auto* cmd = app.add_subcommand(name, help);
  cmd->add_option("DEVICE", o->device, "Catalogue name, as `varnix22 devices` lists it")
      ->required();
  if (withFile && op != TOp::Read) cmd->add_option("FILE", o->file, "Image file")->required();
  if (op == TOp::Read) {
    cmd->add_option("-o,--output", o->file, "File to write (format by extension)")->required();
    cmd->add_flag("-f,--force", o->force, "Replace the file when it exists");
  }
  if (withRange) {
    cmd->add_option("--start", o->start, "First address, hexadecimal (default 0)");
    cmd->add_option("--end", o->end, "Last address, hexadecimal (default: the device's last)");
  }
  if (op == TOp::Program) cmd->add_flag("--verify", o->verify, "Verify after programming");
  cmd->callback([&ctx, op, o] { RunOp(ctx, op, *o); });
  return cmd;
}

}  // namespace

void RegisterDeviceCommands(CLI::App& app, TCliContext& ctx) {
  AddCommand(app, ctx, "read", "Read a device into a file", TOp::Read, true, true);
  AddCommand(app, ctx, "program", "Program a device from a file", TOp::Program, true, true);
  AddCommand(app, ctx, "verify", "Compare a device with a file", TOp::Verify, true, true);
  AddCommand(app, ctx, "blank", "Check that a whole device is erased", TOp::Blank, false, false);
  AddCommand(app, ctx, "erase", "Erase a whole device", TOp::Erase, false, false);
}

}  // namespace app
