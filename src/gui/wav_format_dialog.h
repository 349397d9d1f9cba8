#pragma once
// The WAV format chooser "Wave Dateiformat wählen".

#include "platform/dialog_model.h"

class QWidget;

namespace sonavel {

// Shows the chooser for `dialog` modally: the formats as a list (object name "formats")
// with the opening line selected, OK and Cancel ("buttons"). True on OK, with the selected
// line in `dialog.selected`; a double click on a line is OK as well.
bool RunWavFormatDialog(QWidget* parent, WavFormatDialog& dialog);

}  // namespace sonavel
