#pragma once
// The tag editor "LAudioTagDataEditor".

#include "platform/dialog_model.h"

class QWidget;

namespace sonavel {

// Shows `dialog` modally; true on OK, with the fields' texts updated. Fields by object
// name: each tag's name ("TITLE", ...), "GENRE" being the drop-down of the genre names.
bool RunTagDialog(QWidget* parent, TagDialog& dialog);

}  // namespace sonavel
