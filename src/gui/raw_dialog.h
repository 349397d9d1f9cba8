#pragma once
// The raw settings dialog ("LRawDlg") of headerless files.

#include "platform/dialog_model.h"

class QWidget;

namespace sonavel {

// Shows the dialog for `dialog` modally; true on OK, with its values updated. OK checks the
// values with RawDialogRefusal: a refused rate gets the focus and the refusal as a balloon
// (a tool tip on the rate field), and the dialog stays open.
//
// Controls by object name: "codec" and "channels" (drop-downs), "rate" (an editable
// drop-down of the rate choices).
bool RunRawDialog(QWidget* parent, RawDialog& dialog);

}  // namespace sonavel
