#pragma once
// The file commands without a window: new, open, save, save as and save selection. They
// ask through the Ui port, so the editor's menu, its command line, the edit commands and
// sonavel-cli choose, check, write and report files in one way.

#include <optional>
#include <string>

#include "document/audio_document.h"
#include "formats/format_table.h"
#include "formats/wave_format.h"
#include "platform/ui.h"
#include "platform/result.h"

namespace sonavel {

class DocumentList;
class Settings;

// What a save that could not write its file tells the user.
Message CannotSaveMessage(const std::string& path);

// The one save chain with its messages: writes `source` from its position to its end into
// `path` in the format of its extension (a WAV file of `format`; other formats take the
// format's rate and channels) under the progress window "Speichere...". The source is
// converted to the format's rate and channels first and limited to full scale; `path` is
// replaced only when the new file is complete. A failure is told as "Kann Datei nicht
// erstellen"; kDone, kCancelled or kFailed. Formats whose settings decide rate, channels
// and coding (raw, VOX) take them from `options`, and the source is converted to those;
// when `options` ask for them (`ask_raw_settings`), the format options of a writable
// extension come first: the WAV format chooser opening on `format` for WAV files, the raw
// settings dialog for raw and VOX files (".raw" with the source's rate and channels put
// in); cancelling them fails the save without a message. `written` (when given) receives
// the format the file was written in.
Result SaveSoundFile(SourceRef source, const WaveFormat& format, const std::string& path, Ui& ui,
                     const OpenOptions& options = {}, WaveFormat* written = nullptr);

// The format "Speichern" writes: the document's own file format (its tag and bits) when it
// was opened from or saved as a WAV file, else the stored save format; either at the
// sound's rate and channels.
WaveFormat DocumentSaveFormat(const AudioDocument& document);

// The save dialog "Audiodatei speichern als" with every save type, in the folder
// "SaveAsDir", suggesting `title` without its extension plus the extension "SaveAsFormat"
// (".wav" when that is not a save type), which is also added to a name without one. Both
// settings are stored back from the chosen name. A file that exists (other than `own_file`), or for a playlist or feed the MP3 beside
// it, asks whether to replace it: yes takes it, no shows the dialog again, cancel ends. nullopt when the user cancelled.
std::optional<std::string> ChooseSavePath(Ui& ui, Settings& settings, const std::string& title,
                                          const std::string& own_file = {});

// "Speichern" (Save As when the document is untitled or `save_as`): the free-space check on
// the target's disk, the format options, the save, and afterwards the document names the
// file, keeps its format and is no longer modified (unless the target's disk is then nearly
// full). A RealAudio document (".ra", ".ram", ".rm") is offered Save As instead. True when
// saved.
bool SaveDocumentCommand(AudioDocument& document, Ui& ui, Settings& settings, bool save_as);
// The save part alone, to a path already chosen (the command line's -saveas): the
// document's own format when `path` is its file, else the stored save format; raw and VOX
// files by their settings in `options`.
bool SaveDocumentTo(AudioDocument& document, const std::string& path, Ui& ui, const OpenOptions& options = {});

// Saves `sound` into a file other than a document's own through SaveSoundFile: WAV in the
// stored save format (after the format options when `options` ask for them), the other
// formats at the sound's rate and channels.
Result SaveSoundToNewFile(const Sound& sound, const std::string& path, Ui& ui, const OpenOptions& options);

// "Speicher markierte Region als...": the selection (the whole sound without one) into a file chosen
// as for Save As, in the stored save format.
bool SaveSelectionCommand(AudioDocument& document, Ui& ui, Settings& settings);

// "Öffnen": the open dialog with every file type; nullopt when cancelled.
std::optional<std::string> ChooseFileToOpen(Ui& ui);
// Loads `path` into a new document of `list` under the progress window "Lade Datei...";
// null (after the message) when it could not be loaded. Raw and VOX files are read by their
// settings in `options` (the editor passes its settings and asks for them: the raw settings
// dialog comes first, and cancelling it opens nothing and tells nothing).
DocumentRef OpenDocumentFile(DocumentList& list, const std::string& path, Ui& ui, const OpenOptions& options = {});

// "ID3 Tags bearbeiten...": the tag editor over the document's tags (only for ".wav" and
// ".mp3" files, else a message says so). OK stores the seven texts, the genre as the
// drop-down's text, and marks the document modified; the file changes at the next save.
// True when stored.
bool EditTagsCommand(AudioDocument& document, Ui& ui);

// "Neu": a new empty document, after the new-file dialog when "PromptSampleAndChannels" is
// on; null when the dialog was cancelled.
DocumentRef NewDocumentCommand(DocumentList& list, Ui& ui, Settings& settings);

// The new-file dialog: "Neue Datei" edits "SelectedSampleRate"/"SelectedChannels",
// "Voreinstellungen setzen" (`defaults`) edits "DefaultSampleRate"/"DefaultChannels".
// A rate outside 6000 … 96000 is refused and the dialog shown again. False when cancelled.
bool RunNewFileDialog(Ui& ui, Settings& settings, bool defaults);

}  // namespace sonavel
