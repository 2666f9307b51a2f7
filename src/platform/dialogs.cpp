#include "platform/dialogs.h"

#include <atomic>
#include <ostream>

namespace platform {

namespace {

TModalResult FirstButton(unsigned buttons) {
  if (buttons & mbOK) return TModalResult::Ok;
  if (buttons & mbYes) return TModalResult::Yes;
  if (buttons & mbNo) return TModalResult::No;
  if (buttons & mbCancel) return TModalResult::Cancel;
  if (buttons & mbAbort) return TModalResult::Abort;
  if (buttons & mbRetry) return TModalResult::Retry;
  if (buttons & mbIgnore) return TModalResult::Ignore;
  return TModalResult::Ok;
}

class TQuietDialogs final : public IDialogs {
 public:
  TModalResult MessageBox(const std::string&, const std::string&, unsigned buttons,
                          TMsgIcon) override {
    return FirstButton(buttons);
  }
  void Beep() override {}
  bool OpenFileDialog(const TFileDialogRequest&, std::string&) override { return false; }
  bool SaveFileDialog(const TFileDialogRequest&, std::string&) override { return false; }
};

class TConsoleDialogs final : public IDialogs {
 public:
  explicit TConsoleDialogs(std::ostream& s) : s_(s) {}
  TModalResult MessageBox(const std::string& caption, const std::string& text, unsigned buttons,
                          TMsgIcon) override {
    std::string flat = text;
    for (char& c : flat)
      if (c == '\r' || c == '\n') c = ' ';
    s_ << caption << ": " << flat << std::endl;
    // Nobody can answer on a headless run: take the cautious choice.
    if (buttons & mbCancel) return TModalResult::Cancel;
    if (buttons & mbNo) return TModalResult::No;
    return FirstButton(buttons);
  }
  void Beep() override {}
  bool OpenFileDialog(const TFileDialogRequest&, std::string&) override { return false; }
  bool SaveFileDialog(const TFileDialogRequest&, std::string&) override { return false; }

 private:
  std::ostream& s_;
};

TQuietDialogs g_quiet;
std::atomic<IDialogs*> g_dialogs{&g_quiet};

}  // namespace

IDialogs& Dialogs() { return *g_dialogs.load(std::memory_order_acquire); }

void SetDialogs(IDialogs* dialogs) {
  g_dialogs.store(dialogs ? dialogs : &g_quiet, std::memory_order_release);
}

std::unique_ptr<IDialogs> MakeConsoleDialogs(std::ostream& stream) {
  return std::make_unique<TConsoleDialogs>(stream);
}

}  // namespace platform
