#include <gtest/gtest.h>

#include <random>

#include "document_fixture.h"

namespace sonavel {
namespace {

using testing::BlockFilesIn;
using testing::DocumentTest;
using testing::RampSound;

// A document whose every step leaves a recognisable state: the sound's length and the
// selection both carry the step's number.
class UndoTest : public DocumentTest {
 protected:
  void Step(AudioDocument& document, const std::string& name, std::int32_t number) {
    RecordUndo(document, name);
    FreeSegments(document.sound);
    InsertSilence(document.sound, number, 0);
    document.state.selection_start = number;
    document.state.selection_end = number + 1;
    document.state.cursor = number;
  }
  static std::int32_t StateOf(const AudioDocument& document) { return SoundLength(document.sound); }
};

TEST_F(UndoTest, ThreeStepsUndoneAndRedone) {
  AudioDocument document(44100, 1, "Unbenannt 1");
  Step(document, "A", 1);
  Step(document, "B", 2);
  Step(document, "C", 3);
  EXPECT_TRUE(Undo(document));
  EXPECT_EQ(StateOf(document), 2);
  EXPECT_TRUE(Undo(document));
  EXPECT_TRUE(Undo(document));
  EXPECT_EQ(StateOf(document), 0);  // before A
  EXPECT_EQ(document.state, EditState{});
  EXPECT_FALSE(Undo(document));
  EXPECT_TRUE(Redo(document));
  EXPECT_EQ(StateOf(document), 1);
  EXPECT_EQ(document.state.selection_start, 1);
  EXPECT_TRUE(Redo(document));
  EXPECT_TRUE(Redo(document));
  EXPECT_EQ(StateOf(document), 3);  // after C
  EXPECT_EQ(document.state.cursor, 3);
  EXPECT_FALSE(Redo(document));
  EXPECT_EQ(StateOf(document), 3);
}

TEST_F(UndoTest, SevenStepsAllowFiveUndos) {
  AudioDocument document(44100, 1, "Unbenannt 1");
  for (int step = 1; step <= 7; ++step) Step(document, std::string("S").append(std::to_string(step)), step);
  for (int undo = 1; undo <= 5; ++undo) EXPECT_TRUE(Undo(document)) << undo;
  EXPECT_EQ(StateOf(document), 2);
  EXPECT_FALSE(Undo(document));
  for (int redo = 1; redo <= 5; ++redo) EXPECT_TRUE(Redo(document)) << redo;
  EXPECT_EQ(StateOf(document), 7);
}

TEST_F(UndoTest, MenuTextsFollowTheRing) {
  AudioDocument document(44100, 1, "Unbenannt 1");
  UndoMenu menu = UndoMenuState(document);
  EXPECT_FALSE(menu.undo_enabled);
  EXPECT_FALSE(menu.redo_enabled);
  EXPECT_EQ(menu.undo_text, "Rückgängig \tCtrl+Z");
  EXPECT_EQ(menu.redo_text, "Rückgängig \tCtrl+Y");
  Step(document, "Echo", 1);
  menu = UndoMenuState(document);
  EXPECT_TRUE(menu.undo_enabled);
  EXPECT_EQ(menu.undo_text, "Rückgängig Echo\tCtrl+Z");
  EXPECT_FALSE(menu.redo_enabled);
  Undo(document);
  menu = UndoMenuState(document);
  EXPECT_FALSE(menu.undo_enabled);
  EXPECT_TRUE(menu.redo_enabled);
  EXPECT_EQ(menu.redo_text, "Rückgängig Echo\tCtrl+Y");
  // Names are kept to 259 bytes, never splitting a character.
  Step(document, std::string(258, 'x') + "ä", 2);
  EXPECT_EQ(document.undo[document.undo_index].name, std::string(258, 'x'));
}

TEST_F(UndoTest, ANewStepAfterUndoingDropsTheRedoStates) {
  AudioDocument document(44100, 1, "Unbenannt 1");
  Step(document, "A", 1);
  Step(document, "B", 2);
  Step(document, "C", 3);
  Undo(document);
  Undo(document);
  Step(document, "D", 4);
  EXPECT_FALSE(UndoMenuState(document).redo_enabled);
  EXPECT_FALSE(Redo(document));
  EXPECT_TRUE(Undo(document));
  EXPECT_EQ(StateOf(document), 1);
}

TEST_F(UndoTest, UndoingToTheSavedStateClearsModified) {
  AudioDocument document(44100, 1, "/music/a.wav");  // as loaded: not modified
  Step(document, "A", 1);
  EXPECT_EQ(document.state.modified, 1);
  Undo(document);
  EXPECT_EQ(document.state.modified, 0);
  Redo(document);
  EXPECT_EQ(document.state.modified, 1);
}

TEST_F(UndoTest, UndoCommandsStopPlaybackFirst) {
  AudioDocument document(44100, 1, "Unbenannt 1");
  DocumentServices services = Services();
  EXPECT_FALSE(UndoCommand(document, services));
  Step(document, "A", 1);
  EXPECT_TRUE(UndoCommand(document, services));
  EXPECT_TRUE(RedoCommand(document, services));
  EXPECT_EQ(playback_.calls, (std::vector<std::string>{"stop", "stop", "stop"}));
}

// The ring as a plain model: slots of (name, state number), without sounds.
struct RingModel {
  struct Slot {
    std::string name;
    std::int32_t state = 0;
  };
  Slot slots[8];
  int index = 0;
  std::int32_t current = 0;

  static int Wrap(int i) { return (i % 8 + 8) % 8; }
  void Store(const std::string& name) {
    index = Wrap(index + 1);
    slots[index] = {name, current};
    slots[Wrap(index + 1)] = {};
    slots[Wrap(index + 2)] = {};
  }
  void Record(const std::string& name, std::int32_t next) {
    Store(name);
    current = next;
  }
  bool Undo() {
    const int i = index;
    if (slots[i].name.empty()) return false;
    if (slots[Wrap(i + 1)].name.empty()) {
      Store("Redo");
      index = i;
    }
    current = slots[i].state;
    index = Wrap(i - 1);
    return true;
  }
  bool Redo() {
    const int j = Wrap(index + 2);
    if (slots[j].name.empty()) return false;
    current = slots[j].state;
    index = Wrap(index + 1);
    return true;
  }
};

TEST_F(UndoTest, LongRandomSequencesAgreeWithAModelOfTheRing) {
  std::mt19937 random(20261207);
  for (int sequence = 0; sequence < 200; ++sequence) {
    AudioDocument document(44100, 1, "Unbenannt 1");
    RingModel model;
    std::int32_t next = 1;
    for (int step = 0; step < 60; ++step) {
      const int what = static_cast<int>(random() % 10);
      bool done_document = true;
      bool done_model = true;
      if (what < 4) {
        const std::string name = std::string("S").append(std::to_string(next));
        Step(document, name, next);
        model.Record(name, next);
        ++next;
      } else if (what < 7) {
        done_document = Undo(document);
        done_model = model.Undo();
      } else {
        done_document = Redo(document);
        done_model = model.Redo();
      }
      ASSERT_EQ(done_document, done_model) << "sequence " << sequence << " step " << step;
      ASSERT_EQ(StateOf(document), model.current) << "sequence " << sequence << " step " << step;
      ASSERT_EQ(document.undo_index, model.index);
      const UndoMenu menu = UndoMenuState(document);
      ASSERT_EQ(menu.undo_enabled, !model.slots[model.index].name.empty());
      ASSERT_EQ(menu.redo_enabled, !model.slots[RingModel::Wrap(model.index + 2)].name.empty());
    }
  }
  ExpectNoLeak();
}

TEST_F(UndoTest, UndoStepsOfAnHourLongSoundShareItsBlock) {
  // One hour of stereo at 44.1 kHz, written sparsely: the block's size is an hour's.
  constexpr std::int32_t kHour = 44100 * 3600;
  AudioDocument document(44100, 2, "Unbenannt 1");
  {
    SinkRef writer = CreateBlockWriter(document.sound, 44100, 2);
    writer->Seek(kHour - 1);
    std::int32_t last[2] = {1, 2};
    writer->Write(last, 1);
  }
  ASSERT_EQ(SoundLength(document.sound), kHour);
  auto bytes_on_disk = [this] {
    std::uintmax_t total = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder_))
      if (entry.is_regular_file()) total += entry.file_size();
    return total;
  };
  const std::uintmax_t before = bytes_on_disk();
  EXPECT_GE(before, std::uintmax_t{kHour} * 8);
  for (int step = 0; step < 8; ++step) {
    RecordUndo(document, "Schritt " + std::to_string(step));
    DeleteRange(document.sound, 44100 * step, 44100 * step + 1000);
    InsertSilence(document.sound, 500, 44100 * (step + 1));
  }
  EXPECT_EQ(BlockFilesIn(folder_), 2);  // still the one block's .aud and .grf
  EXPECT_EQ(bytes_on_disk(), before);
  EXPECT_TRUE(Undo(document));
  EXPECT_EQ(SoundLength(document.sound), kHour - 7 * 500);
}

}  // namespace
}  // namespace sonavel
