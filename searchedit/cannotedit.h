#pragma once
// The refusal both windows show when an edit is asked for in the sample
// file. The store only knows the text: it shows nothing itself, so that it
// also serves the command line, which has no windows.

#include <QString>

#include "platform/messagedialog.h"
#include "store/startup.h"

namespace velmora {

inline void ShowCannotEdit() {
  MessageDlg(QString::fromUtf8(kCannotEditText), MsgKind::Information, MsgButtons::OK);
}

}  // namespace velmora
