#pragma once
// The encoders' settings dialogs ("LMp3EncodeDlg", "OggEncodeDlg", "FlacEncodeDlg",
// "LAACEncodeDlg", "LAMREncodeDlg"), built from their records.

#include "platform/dialog_model.h"

class QWidget;

namespace sonavel {

// Shows `dialog` modally (object name: its name); true on OK, with the controls' values
// updated. Controls by object name: each value's name ("CBRBitRate", ...) for its
// drop-down, check box or group of radio buttons, and "defaults" for the defaults button.
// A typed entry that is no whole number is refused at OK with a tip on its field.
bool RunEncoderDialog(QWidget* parent, EncoderDialog& dialog);

}  // namespace sonavel
