#pragma once
// The frame's bookmarks: the commands of the bookmark menu run against the open document
// windows, and the bookmark list window, a tool window beside the frame listing the
// bookmarks of every open document.

#include <QPointer>
#include <QWidget>

#include <string>
#include <vector>

#include "app/bookmark_commands.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace sonavel {

class BookmarkListWindow;
class MainWindow;
class Settings;

class FrameBookmarks final : public BookmarkHost {
 public:
  FrameBookmarks(MainWindow& frame, Settings& settings);
  ~FrameBookmarks() override;
  FrameBookmarks(const FrameBookmarks&) = delete;
  FrameBookmarks& operator=(const FrameBookmarks&) = delete;

  std::vector<AudioDocument*> OpenDocuments() override;
  AudioDocument* CurrentDocument() override;
  void ActivateDocument(AudioDocument& document) override;

  // Commands 8001 (add), 8003 (open the list) and, while the list is open, 8006 … 8009 on
  // its current or selected rows. False when the id is none of these or did nothing.
  bool RunCommand(int id);
  // Bookmarks changed, or documents came or went: the open list shows them again once the
  // current event is handled.
  void Refresh();
  // The list window while it is open, else null.
  BookmarkListWindow* list() const { return list_; }
  BookmarkContext Context();

 private:
  friend class BookmarkListWindow;

  MainWindow& frame_;
  Settings& settings_;
  QPointer<BookmarkListWindow> list_;
  bool refresh_pending_ = false;
};

class BookmarkListWindow final : public QWidget {
  Q_OBJECT

 public:
  BookmarkListWindow(FrameBookmarks& bookmarks, QWidget* parent);

  QTreeWidget* tree() const { return tree_; }
  // Shows the rows of the open documents now, keeping the selected names selected.
  void ShowRows();
  // The bookmark of the current row, and those of all selected rows.
  std::string CurrentName() const;
  std::vector<std::string> SelectedNames() const;
  // Opens the current row's name for editing in place.
  void StartRename();
  // Selects from the current row's bookmark to one chosen from the same document's.
  bool SelectToBookmark();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void NameEdited(QTreeWidgetItem* item, int column);
  void ShowContextMenu(const QPoint& where);

  FrameBookmarks& bookmarks_;
  QTreeWidget* tree_;
};

}  // namespace sonavel
