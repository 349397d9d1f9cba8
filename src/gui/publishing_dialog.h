#pragma once
// The publishing settings dialog of playlists and podcast feeds ("LPlaylistEncodeDlg").

#include "platform/dialog_model.h"

class QWidget;

namespace sonavel {

// Shows `dialog` modally (object name: its name); true on OK, with the typed root address
// in `dialog.root_url`. Controls by object name: "RootURL" for the address field, "mp3" for
// the button that opens the MP3 settings, "buttons" for OK and Cancel.
bool RunPublishingDialog(QWidget* parent, PublishingDialog& dialog);

}  // namespace sonavel
