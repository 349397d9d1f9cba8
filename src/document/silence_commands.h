#pragma once
// Automatic splitting: the loud stretches of a document's sound, each opened as a new
// document, the source left as it is. (Automatic trimming is a catalogue effect.)

#include <functional>
#include <optional>
#include <vector>

#include "document/audio_document.h"
#include "document/document_list.h"
#include "effects/silence.h"
#include "platform/result.h"
#include "platform/ui.h"

namespace sonavel {

class Settings;

// The loud stretches of `sound` by the stored "AutoSplit" values as given, under the
// progress window "Auto Split Komplett"; nullopt when cancelled.
std::optional<std::vector<LoudRange>> FindSplitRanges(const Sound& sound, const EffectValues& values, Ui& ui);

// What automatic splitting tells when it found fewer than two stretches (and did nothing).
Message TooFewPartsMessage();

// The parts of `sound` at `ranges`, each a new document of `list` named after `path`
// ("%s (%d)%s", counted from 0), marked modified, handed to `show` in order.
void OpenSplitDocuments(const Sound& sound, const std::string& path, const std::vector<LoudRange>& ranges,
                        DocumentList& list, const std::function<void(const DocumentRef&)>& show);

// "Auto Split...": a modified document is offered to be saved first (no ends the command,
// yes saves through `save`, whose failure ends it too); playback stops; the dialog takes the
// threshold and the shortest silence, refusing a negative length, and stores them; then
// the detection. With fewer than two stretches a box says so; otherwise each opens as a
// new document. kDone, or kCancelled when declined, refused or cancelled.
Result AutoSplitCommand(AudioDocument& document, DocumentServices& services, Settings& settings, DocumentList& list,
                        const std::function<bool(AudioDocument&)>& save,
                        const std::function<void(const DocumentRef&)>& show);

}  // namespace sonavel
