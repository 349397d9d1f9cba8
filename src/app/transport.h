#pragma once
// The frame's transport: what play, stop, scrub, the winding buttons, start, end, the
// speeds and repeat do with the active document and the frame's playback engine, and how
// the engine's reports move the document's cursor. It knows no window: the frame shows
// what the transport reports through TransportView.

#include <cstdint>

#include "devices/playback_engine.h"
#include "document/audio_document.h"
#include "store/stream.h"

namespace sonavel {

class Settings;
class Ui;

// What the frame shows of playback. Every call comes on the user-interface thread.
class TransportView {
 public:
  virtual ~TransportView() = default;
  // The engine's state changed (0 closed, 1 playing, 5 scrubbing): the transport buttons.
  virtual void ShowTransportState(std::uint16_t /*state*/) {}
  // The levels of the buffer just played; one channel at -127 after a stop.
  virtual void ShowLevels(const LevelRecord& /*levels*/) {}
};

// The play speeds stored as "PlaySpeed".
inline constexpr int kSpeedSlow = 0;
inline constexpr int kSpeedNormal = 1;
inline constexpr int kSpeedFast = 2;

class Transport final : public PlaybackListener, public PlaybackControl {
 public:
  enum class Direction { kRewind = -1, kForward = 1 };

  // Installs itself as the engine's listener.
  Transport(PlaybackEngine& engine, Settings& settings, Ui& ui, TransportView& view);
  ~Transport() override;
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // The document the commands work on (the active window's); null for none.
  void SetActiveDocument(AudioDocument* document) { active_ = document; }
  AudioDocument* active_document() const { return active_; }
  // A document is closing: playback of it ends.
  void DocumentClosing(AudioDocument* document);

  // Plays the selection, or from the cursor to the end; resumes when scrubbing. With
  // `keep_cursor` a cursor in the last second stays where it is instead of going to 0.
  // False when there is no document or no device would play.
  bool Play(bool keep_cursor = false);
  void Stop() override;
  // Pauses: loops a snippet at the position (starting playback first when closed).
  void Scrub();
  // The scrub button: resume while scrubbing, scrub otherwise.
  void ScrubButton();
  void GoToStart();
  void GoToEnd();
  // The winding buttons are held: a press starts cueing, the release returns to what
  // played before.
  void Press(Direction direction);
  void Release(Direction direction);
  bool running(Direction direction) const {
    return direction == Direction::kRewind ? rewinding_ : forwarding_;
  }
  // Stores "PlaySpeed" (kSpeedSlow … kSpeedFast) and plays.
  void SetSpeed(int speed);
  int Speed() const;
  // Flips "PlayRepeat".
  void ToggleRepeat();
  bool Repeat() const;

  // Shift went down (the anchor is the cursor) or up.
  void ShiftDown();
  void ShiftUp() { shift_held_ = false; }
  bool shift_held() const { return shift_held_; }
  // While set, every cursor move from playback makes the selection run from the anchor.
  void SetExtendSelection(bool extend) { extend_selection_ = extend; }
  bool extend_selection() const { return extend_selection_; }
  void SetAnchor(std::int32_t anchor) { anchor_ = anchor; }

  // Effect dialogs play their preview through here: `source` plays from its position;
  // the document's cursor stays. False when no device would play.
  bool Preview(SourceRef source) override;
  void StopPreview() override;
  bool previewing() const { return previewing_; }

  // An edit's automatic playback: from `frame` (the changed range less the lead-in) to the
  // end, whatever is selected.
  void PlayFrom(AudioDocument& document, std::int32_t frame) override;

  // The engine's reports.
  void OnStarted(int cookie) override;
  void OnStopped(int cookie) override;
  void OnScrubStarted(int cookie) override;
  void OnPosition(std::int64_t milliseconds, int cookie) override;
  void OnLevels(const LevelRecord& levels, int cookie) override;

  // The document's cursor was set from outside its window: playback of it goes on from
  // there, else the windows show the cursor where it is.
  void ApplyCursor(AudioDocument& document);

  // The document being played (null when closed or previewing).
  AudioDocument* playing() const { return playing_; }
  PlaybackEngine& engine() { return engine_; }

 private:
  bool OpenEngine(SourceRef source, AudioDocument* document, double scale);
  // Play's work once any scrubbing is dealt with: the selection when `use_selection` and
  // there is one, else from the cursor to the end.
  bool Start(AudioDocument& document, bool keep_cursor, bool use_selection);
  // Moves the document's cursor to `frame`: the selection runs from the anchor while
  // extending, else collapses onto the cursor when `collapse` or when there is none; the
  // view scrolls to keep the cursor in sight.
  void MoveCursor(AudioDocument& document, std::int64_t frame, bool collapse);

  PlaybackEngine& engine_;
  Settings& settings_;
  Ui& ui_;
  TransportView& view_;
  AudioDocument* active_ = nullptr;
  AudioDocument* playing_ = nullptr;
  // Document frames per source frame of what plays (the play speed).
  double scale_ = 1.0;
  SourceRef source_;  // what the engine plays, for its length
  bool previewing_ = false;

  bool rewinding_ = false;
  bool forwarding_ = false;
  enum class Resume { kNothing, kPlay, kScrub } resume_ = Resume::kNothing;
  bool volume_lowered_ = false;

  std::int32_t anchor_ = 0;
  bool shift_held_ = false;
  bool extend_selection_ = false;
};

// The message when no device plays the sound.
inline constexpr const char* kNoOutputDeviceText =
    "Bitte überprüfen sie unter Einstellungen ob sie das richtige Ausgabegerät gewählt haben. "
    "Öffnen sie Einstellungen-Ausgabegerät";

}  // namespace sonavel
