// A scripted stand-in for the user: records every question and answers from a queue.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace testing_support {

class TFakeDialogs : public platform::IDialogs {
 public:
  struct TMessage {
    std::string caption, text;
    unsigned buttons;
    platform::TMsgIcon icon;
  };

  // Answers for the next message boxes; when empty, the first button offered is taken.
  std::deque<platform::TModalResult> answers;
  // Names the next file dialogs return; an empty string means the user cancelled.
  std::deque<std::string> fileNames;

  std::vector<TMessage> messages;
  std::vector<platform::TFileDialogRequest> fileRequests;
  int beeps = 0;

  TFakeDialogs() { platform::SetDialogs(this); }
  ~TFakeDialogs() override { platform::SetDialogs(nullptr); }
  TFakeDialogs(const TFakeDialogs&) = delete;
  TFakeDialogs& operator=(const TFakeDialogs&) = delete;

  platform::TModalResult MessageBox(const std::string& caption, const std::string& text,
                                    unsigned buttons, platform::TMsgIcon icon) override {
    messages.push_back({caption, text, buttons, icon});
    if (!answers.empty()) {
      const auto a = answers.front();
      answers.pop_front();
      return a;
    }
    if (buttons & platform::mbOK) return platform::TModalResult::Ok;
    if (buttons & platform::mbYes) return platform::TModalResult::Yes;
    return platform::TModalResult::Cancel;
  }
  void Beep() override { ++beeps; }
  bool OpenFileDialog(const platform::TFileDialogRequest& r, std::string& name) override {
    return NextFile(r, name);
  }
  bool SaveFileDialog(const platform::TFileDialogRequest& r, std::string& name) override {
    return NextFile(r, name);
  }

 private:
  bool NextFile(const platform::TFileDialogRequest& r, std::string& name) {
    fileRequests.push_back(r);
    if (fileNames.empty()) return false;
    name = fileNames.front();
    fileNames.pop_front();
    return !name.empty();
  }
};

}  // namespace testing_support
