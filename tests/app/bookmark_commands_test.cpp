// The bookmark commands without a window: the list's row texts, selecting to a bookmark
// and a full list refused before anything is asked.

#include "app/bookmark_commands.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>

#include "app_fixture.h"
#include "devices/capture_output.h"
#include "devices/main_thread_queue.h"
#include "platform/ui.h"
#include "store/store_fixture.h"

namespace sonavel {
namespace {

// The frame as the commands see it: documents in a fixed order, the first active.
class TwoDocuments final : public BookmarkHost {
 public:
  std::vector<AudioDocument*> OpenDocuments() override { return documents; }
  AudioDocument* CurrentDocument() override { return active; }
  void ActivateDocument(AudioDocument& document) override {
    active = &document;
    activations.push_back(DisplayTitle(document));
    if (transport != nullptr) transport->SetActiveDocument(&document);
  }
  std::vector<AudioDocument*> documents;
  Transport* transport = nullptr;
  AudioDocument* active = nullptr;
  std::vector<std::string> activations;
};

TEST(BookmarkRows, NamePositionUseCountAndLocalTimeInDocumentOrder) {
  const char* zone = ::getenv("TZ");
  const std::string saved = zone != nullptr ? zone : "";
  ::setenv("TZ", "CET-1", 1);  // one hour east of UTC, no summer time
  ::tzset();
  AudioDocument first(8000, 1, "/a/eins.wav");
  AudioDocument second(8000, 1, "/a/zwei.wav");
  second.bookmarks.Add({"Ende", "zwei.wav", 3723456, 255, 1700000000u});
  second.bookmarks.Add({"Anfang", "zwei.wav", -1234, 7, 4102444800u});  // 2100, past 32 bits signed
  first.bookmarks.Add({"Nie", "eins.wav", 0, 1, 0});
  const std::vector<BookmarkRow> rows = BookmarkRows({&first, &second});
  ASSERT_EQ(rows.size(), 3u);
  using Texts = std::array<std::string, 4>;
  EXPECT_EQ(rows[0].texts, (Texts{"Nie", "0:00:00.00", "1", " "}));
  EXPECT_EQ(rows[0].document, &first);
  EXPECT_EQ(rows[1].texts, (Texts{"Anfang", "-0:00:01.23", "7", "2100-01-01 01:00:00"}));
  EXPECT_EQ(rows[2].texts, (Texts{"Ende", "1:02:03.46", "255", "2023-11-14 23:13:20"}));
  EXPECT_EQ(rows[2].document, &second);
  zone != nullptr ? ::setenv("TZ", saved.c_str(), 1) : ::unsetenv("TZ");
  ::tzset();
}

class BookmarkCommandTest : public testing::StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    registry_ = std::make_unique<Registry>(JoinPath(folder_, "user"), JoinPath(folder_, "machine"));
    settings_ = std::make_unique<Settings>(*registry_);
    transport_ = std::make_unique<Transport>(engine_, *settings_, ui_, view_);
    for (AudioDocument* document : {&document_, &other_}) {
      document->sound = testing::RampSound(8000);
      document->sound.rate = 1000;  // frames and milliseconds alike
    }
    document_.state.view_end = 1000;
    host_.documents = {&other_, &document_};
    host_.active = &other_;
    host_.transport = transport_.get();
    engine_.SetOutputFactory([this](int) { return device_; });
  }
  void TearDown() override {
    transport_.reset();
    StoreTest::TearDown();
  }
  BookmarkContext Context() { return {ui_, *settings_, *transport_, host_, [] { return 1234u; }}; }

  ManualQueue queue_;
  PlaybackEngine engine_{queue_};
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<Settings> settings_;
  ScriptedUi ui_;
  TransportView view_;
  std::unique_ptr<Transport> transport_;
  AudioDocument document_{1000, 1, "/a/lied.wav"};
  AudioDocument other_{1000, 1, "/a/anderes.wav"};
  TwoDocuments host_;
  std::shared_ptr<CaptureOutput> device_ = std::make_shared<CaptureOutput>(NullOutput::Pace::kRealTime);
};

TEST_F(BookmarkCommandTest, PlaybackThatRanGoesOnFromTheBookmark) {
  document_.bookmarks.Add({"Mitte", "", 3000, 1, 0});
  transport_->SetActiveDocument(&other_);
  ASSERT_TRUE(transport_->Play());
  ASSERT_EQ(transport_->playing(), &other_);
  BookmarkContext context = Context();
  ASSERT_TRUE(GoToBookmarkCommand(context, "mitte"));
  EXPECT_EQ(host_.activations, std::vector<std::string>{"lied.wav"});
  EXPECT_EQ(engine_.State(), PlaybackEngine::kPlaying);
  EXPECT_EQ(transport_->playing(), &document_);
  EXPECT_EQ(document_.state.cursor, 3000);
  EXPECT_EQ(document_.state.view_start, 2000);
  EXPECT_EQ(document_.bookmarks.bookmarks()[0].use_count, 2);
  transport_->Stop();
}

TEST_F(BookmarkCommandTest, SelectsFromTheBookmarkToAnotherOfItsDocument) {
  document_.bookmarks.Add({"Spät", "", 6000, 1, 0});
  document_.bookmarks.Add({"Früh", "", 2000, 4, 0});
  document_.bookmarks.Add({"Zu spät", "", 99999, 1, 0});  // beyond the end: at the end
  other_.bookmarks.Add({"Fremd", "", 10, 1, 0});
  BookmarkContext context = Context();

  ui_.QueueChoice("Früh");
  ASSERT_TRUE(SelectToBookmarkCommand(context, "spät"));
  // Only the other bookmarks of the same document are offered, in position order.
  ASSERT_EQ(ui_.list_offers().size(), 1u);
  EXPECT_EQ(ui_.list_offers()[0], (std::vector<std::string>{"Früh", "Zu spät"}));
  EXPECT_EQ(ui_.requests().back(), "list Bis Lesezeichen markieren");
  EXPECT_EQ(host_.activations, std::vector<std::string>{"lied.wav"});
  // From the earlier to the later one, the cursor at the later, the view scrolled to it.
  EXPECT_EQ(document_.state.selection_start, 2000);
  EXPECT_EQ(document_.state.selection_end, 6000);
  EXPECT_EQ(document_.state.cursor, 6000);
  EXPECT_EQ(document_.state.view_start, 5000);
  EXPECT_EQ(document_.state.view_end, 6000);
  const auto& marks = document_.bookmarks.bookmarks();
  EXPECT_EQ(marks[0].use_count, 5);
  EXPECT_EQ(marks[0].last_used, 1234u);
  EXPECT_EQ(marks[1].use_count, 2);
  EXPECT_EQ(marks[2].use_count, 1);

  ui_.QueueChoice("Zu spät");
  ASSERT_TRUE(SelectToBookmarkCommand(context, "Früh"));
  EXPECT_EQ(document_.state.selection_start, 2000);
  EXPECT_EQ(document_.state.selection_end, 8000);
  // Cancelled, or a bookmark alone in its document: nothing happens.
  EXPECT_FALSE(SelectToBookmarkCommand(context, "Früh"));
  EXPECT_FALSE(SelectToBookmarkCommand(context, "Fremd"));
  EXPECT_EQ(ui_.list_offers().size(), 3u);
  EXPECT_EQ(document_.state.selection_end, 8000);
  EXPECT_EQ(engine_.State(), PlaybackEngine::kClosed);  // "PlayBookMark" is off
}

TEST_F(BookmarkCommandTest, AFullListIsRefusedBeforeTheNameIsAsked) {
  for (int i = 0; i < 255; ++i) ASSERT_FALSE(AddBookmark(other_, std::to_string(i) + "m", 0));
  other_.state.modified = 0;
  BookmarkContext context = Context();
  EXPECT_FALSE(AddBookmarkCommand(context));
  EXPECT_TRUE(ui_.prompts().empty());
  ASSERT_EQ(ui_.shown().size(), 1u);
  EXPECT_EQ(ui_.shown()[0].text, "Ein Dokument kann höchstens 255 Lesezeichen haben.");
  EXPECT_EQ(other_.state.modified, 0);

  // A name of nothing but invalid characters is refused and asked again.
  host_.active = &document_;
  ui_.Clear();
  ui_.QueueChoice(".:?");
  ui_.QueueChoice("Gut");
  ASSERT_TRUE(AddBookmarkCommand(context));
  ASSERT_EQ(ui_.shown().size(), 1u);
  EXPECT_EQ(ui_.shown()[0].caption, "Name Invalid");
  EXPECT_EQ(ui_.prompts().back().second, ".:?");
  EXPECT_EQ(document_.bookmarks.bookmarks()[0].name, "Gut");
  EXPECT_EQ(document_.bookmarks.bookmarks()[0].last_used, 1234u);
}

}  // namespace
}  // namespace sonavel
