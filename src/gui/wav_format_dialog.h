#pragma once
// The WAV format chooser "Wave Dateiformat wählen".

#include "platform/dialog_model.h"

class QWidget;

namespace sonavel {

// Shows the chooser for `dialog` modally, as two drop-downs: the format (object name
// "formatTags": the part of each line before its first ", ") and its attributes
// ("attributes": the rest of the lines of that format), with the opening line chosen, and
// OK and Cancel ("buttons"). True on OK, with the chosen line in `dialog.selected`.
bool RunWavFormatDialog(QWidget* parent, WavFormatDialog& dialog);

}  // namespace sonavel
