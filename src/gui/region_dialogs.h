#pragma once
// The region list's dialogs: the export to a folder and the join of regions.

#include "platform/dialog_model.h"

class QWidget;

namespace sonavel {

// Shows the export dialog modally (object name "ExportRegions"); true on OK with the
// folder and format index in `dialog`. Controls by object name: "regions" (the list),
// "folder" (the edit), "browse" (the folder chooser), "format" (the drop-down of the
// extensions; none chosen when the index is outside the list), "buttons".
bool RunExportRegionsDialog(QWidget* parent, ExportRegionsDialog& dialog);

// Shows the join dialog modally (object name "JoinRegions"); true on OK with the join list
// in `dialog.joined`. Controls by object name: "regions" and "joined" (the two lists),
// "add", "remove", "play", "settings", "buttons". The settings button opens the dialog
// "JoinSettings" with "autoGap" (check box) and "gapTime" (milliseconds).
bool RunJoinRegionsDialog(QWidget* parent, JoinRegionsDialog& dialog);

// Tells the open join dialog (if any) that its preview ended by itself: its play button
// reads "Play" again. Called on the user-interface thread.
void NotifyJoinPreviewStopped();

}  // namespace sonavel
