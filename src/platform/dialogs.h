// What the models ask of the user: message boxes, the default beep, file dialogs.
// The GUI, the command line and the tests each supply an implementation.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace platform {

enum class TMsgIcon { None, Exclamation, Error, Information, Question };

enum TMsgButton : unsigned {
  mbOK = 1,
  mbCancel = 2,
  mbYes = 4,
  mbNo = 8,
  mbAbort = 16,
  mbRetry = 32,
  mbIgnore = 64,
};

enum class TModalResult { None, Ok, Cancel, Yes, No, Abort, Retry, Ignore };

struct TFileDialogRequest {
  std::string title;
  std::string filter;  // "Description|*.ext;*.ext2|..."
  std::string defaultExt;
  std::string fileName;  // initial name
};

class IDialogs {
 public:
  virtual ~IDialogs() = default;
  virtual TModalResult MessageBox(const std::string& caption, const std::string& text,
                                  unsigned buttons, TMsgIcon icon) = 0;
  virtual void Beep() = 0;
  // Returns false when the user cancels.
  virtual bool OpenFileDialog(const TFileDialogRequest& request, std::string& fileName) = 0;
  virtual bool SaveFileDialog(const TFileDialogRequest& request, std::string& fileName) = 0;
};

// The process-wide dialogs. Until one is installed a quiet implementation answers the
// first button offered and records nothing.
IDialogs& Dialogs();
void SetDialogs(IDialogs* dialogs);  // not owned; nullptr restores the quiet one

// For the command line: message boxes print "Caption: text" on a stream and take the
// given default answer; beeps ring the terminal bell when the stream is a terminal.
std::unique_ptr<IDialogs> MakeConsoleDialogs(std::ostream& stream);

}  // namespace platform
