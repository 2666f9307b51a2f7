// Names of documents that were never saved, shared by the hex editor, the analyser and
// the script editor.
#pragma once

#include <string>
#include <string_view>

namespace hexedit {

// "Untitled" followed by the next value of one program-wide counter: Untitled1 first,
// and no number repeats within a run.
std::string NewUntitledName();

// True when the name's first eight characters are "Untitled" (case-sensitive). A name
// with a directory in front never counts.
bool IsUntitledName(std::string_view name);

}  // namespace hexedit
