#pragma once
// The effect commands on a document: select all when nothing is selected, stop playback,
// ask for the parameters (with preview), store them, record the undo step, render under
// the progress window, then place the cursor and play the changed range.

#include "document/audio_document.h"
#include "effects/effect.h"
#include "platform/result.h"

namespace sonavel {

class Settings;

// The parameter dialog of `effect` without preview: its title, fields (filled with
// `values`) and presets, and the check of its values at OK.
EffectDialog ParameterDialog(const EffectDefinition& effect, const EffectValues& values);

struct EffectCommandOptions {
  // Headless use: these values replace the stored ones and no dialog is shown; values
  // that fail the effect's check end the command with a message.
  const EffectValues* values = nullptr;
  // Whether accepted values are written back to the settings (the editor does).
  bool store_values = true;
};

// kDone, kCancelled (also when the dialog was cancelled or refused) or
// kFailed.
Result RunEffectCommand(AudioDocument& document, DocumentServices& services, Settings& settings,
                     const EffectDefinition& effect, const EffectCommandOptions& options = {});

}  // namespace sonavel
