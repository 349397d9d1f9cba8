#pragma once
// The effects' parameter dialogs: the plain one (edits or drop-downs with their labels,
// presets, preview) and the special editors (envelope curve, compressor, cross fade,
// stereo pan, mix), all driven by an EffectDialog description.

#include "platform/ui.h"

class QWidget;

namespace sonavel {

// Shows the dialog for `dialog` modally; true on OK, with the fields (and points) updated.
//
// Controls by object name: a field's edit or drop-down is named by its id ("101"), the
// stereo pan slider too; the compressor's and the cross fade's controls by the field's
// name ("CompressorThreshold", "GapTimeMS"). The presets drop-down is named by
// presets_id, the preview button "140", the envelope editor "envelopeEditor". The mix
// dialog's radio buttons are named by the choice field's id and their value ("103_2"),
// their group by the id; a slider's value readout by the slider's name and "Value".
bool RunEffectDialog(QWidget* parent, EffectDialog& dialog);

// Tells the open effect dialog (if any) that its preview's playback ended by itself: its
// preview button shows "Vorschau" again. Called on the user-interface thread; a stop the
// dialog asked for through stop_preview needs no call.
void NotifyEffectPreviewStopped();

}  // namespace sonavel
