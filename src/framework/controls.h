// The state of a control as a model holds it: what a view shows and forwards.
#pragma once

#include <string>
#include <vector>

namespace framework {

struct TControl {
  std::string Caption;  // caption of a label or button, text of an edit
  bool Visible = true;
  bool Enabled = true;
  int SelStart = 0;  // edits: the selection, so typing can replace it
  int SelLength = 0;
  void SelectAll() {
    SelStart = 0;
    SelLength = static_cast<int>(Caption.size());
  }
};

struct TListControl {
  std::vector<std::string> Items;
  int ItemIndex = -1;
  std::string Text() const {
    return ItemIndex >= 0 && ItemIndex < static_cast<int>(Items.size()) ? Items[ItemIndex] : "";
  }
};

}  // namespace framework
