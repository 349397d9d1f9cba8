#include "gui/bookmark_list_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QHeaderView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QSignalBlocker>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "app/command_ids.h"
#include "app/command_table.h"
#include "gui/document_window.h"
#include "gui/main_window.h"
#include "platform/settings.h"

namespace sonavel {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// Each row keeps its bookmark's name: the text of column 0 changes while it is edited.
constexpr int kNameRole = Qt::UserRole;

}  // namespace

FrameBookmarks::FrameBookmarks(MainWindow& frame, Settings& settings) : frame_(frame), settings_(settings) {}

FrameBookmarks::~FrameBookmarks() { delete list_.data(); }

std::vector<AudioDocument*> FrameBookmarks::OpenDocuments() {
  std::vector<AudioDocument*> documents;
  for (const DocumentRef& document : frame_.document_list().documents()) documents.push_back(document.get());
  return documents;
}

AudioDocument* FrameBookmarks::CurrentDocument() { return frame_.ActiveDocument(); }

void FrameBookmarks::ActivateDocument(AudioDocument& document) {
  for (QMdiSubWindow* window : frame_.documents()->subWindowList()) {
    auto* document_window = qobject_cast<DocumentWindow*>(window);
    if (document_window == nullptr || &document_window->document() != &document) continue;
    if (window->isMinimized()) window->showNormal();
    frame_.documents()->setActiveSubWindow(window);
  }
  frame_.transport().SetActiveDocument(&document);
}

BookmarkContext FrameBookmarks::Context() { return BookmarkContext{frame_.ui(), settings_, frame_.transport(), *this}; }

bool FrameBookmarks::RunCommand(int id) {
  BookmarkContext context = Context();
  switch (id) {
    case command_id::kSetBookmark:
      return AddBookmarkCommand(context);
    case command_id::kBookmarkList:
      if (!list_) {
        list_ = new BookmarkListWindow(*this, &frame_);
        frame_.ShowListItems(BookmarkListItems(), true);
      }
      list_->show();
      list_->raise();
      return true;
    default:
      break;
  }
  if (!list_) return false;
  switch (id) {
    case command_id::kGoToBookmark: {
      const std::string name = list_->CurrentName();
      return !name.empty() && GoToBookmarkCommand(context, name);
    }
    case command_id::kRenameBookmark:
      list_->StartRename();
      return true;
    case command_id::kDeleteBookmarks:
      return DeleteBookmarksCommand(context, list_->SelectedNames());
    case command_id::kDeleteAllBookmarks:
      return DeleteAllBookmarksCommand(context);
    default:
      return false;
  }
}

void FrameBookmarks::Refresh() {
  if (!list_ || refresh_pending_) return;
  refresh_pending_ = true;
  QTimer::singleShot(0, list_, [this] {
    refresh_pending_ = false;
    list_->ShowRows();
  });
}

BookmarkListWindow::BookmarkListWindow(FrameBookmarks& bookmarks, QWidget* parent)
    : QWidget(parent, Qt::Tool), bookmarks_(bookmarks), tree_(new QTreeWidget(this)) {
  setObjectName("BookmarkList");
  setWindowTitle("Lesezeichen");
  setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(tree_);
  tree_->setColumnCount(4);
  tree_->setHeaderLabels({"Name", "Position", "Anzahl", "Zuletzt benutzt"});
  tree_->setRootIsDecorated(false);
  tree_->setAlternatingRowColors(true);
  tree_->setUniformRowHeights(true);
  tree_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  tree_->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
  tree_->setContextMenuPolicy(Qt::CustomContextMenu);
  tree_->header()->setStretchLastSection(true);
  connect(tree_, &QTreeWidget::itemChanged, this, &BookmarkListWindow::NameEdited);
  connect(tree_, &QTreeWidget::itemActivated, this,
          [this] { bookmarks_.frame_.Dispatch(command_id::kGoToBookmark); });
  connect(tree_, &QWidget::customContextMenuRequested, this, &BookmarkListWindow::ShowContextMenu);
  // The Delete key deletes the selected rows (a name being edited takes the key itself).
  auto* remove = new QAction(this);
  remove->setShortcut(QKeySequence::Delete);
  remove->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(remove, &QAction::triggered, this, [this] {
    if (!SelectedNames().empty()) bookmarks_.frame_.Dispatch(command_id::kDeleteBookmarks);
  });
  addAction(remove);
  ShowRows();
  resize(560, 260);
  // Beside the frame's right edge, where it covers the least of the documents.
  const QRect frame = parent->geometry();
  move(frame.x() + std::max(0, frame.width() - width() - 40), frame.y() + 120);
}

void BookmarkListWindow::ShowRows() {
  const std::vector<std::string> selected = SelectedNames();
  const std::string current = CurrentName();
  const QSignalBlocker quiet(tree_);
  tree_->clear();
  for (const BookmarkRow& row : BookmarkRows(bookmarks_.OpenDocuments())) {
    auto* item = new QTreeWidgetItem(tree_);
    for (int column = 0; column < 4; ++column) item->setText(column, Q(row.texts[static_cast<std::size_t>(column)]));
    item->setData(0, kNameRole, Q(row.name));
    item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    const bool was_selected = std::find(selected.begin(), selected.end(), row.name) != selected.end();
    item->setSelected(was_selected);
    if (row.name == current) tree_->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
  }
  // Wide enough for the contents with some air, and never narrower than a usual name.
  constexpr int kMinimumWidths[] = {180, 90, 60};
  for (int column = 0; column < 3; ++column) {
    tree_->resizeColumnToContents(column);
    tree_->setColumnWidth(column, std::max(tree_->columnWidth(column) + 12, kMinimumWidths[column]));
  }
}

std::string BookmarkListWindow::CurrentName() const {
  const QTreeWidgetItem* item = tree_->currentItem();
  if (item == nullptr && !tree_->selectedItems().isEmpty()) item = tree_->selectedItems().front();
  return item != nullptr ? item->data(0, kNameRole).toString().toStdString() : std::string();
}

std::vector<std::string> BookmarkListWindow::SelectedNames() const {
  std::vector<std::string> names;
  for (int i = 0; i < tree_->topLevelItemCount(); ++i)
    if (const QTreeWidgetItem* item = tree_->topLevelItem(i); item->isSelected())
      names.push_back(item->data(0, kNameRole).toString().toStdString());
  return names;
}

void BookmarkListWindow::StartRename() {
  QTreeWidgetItem* item = tree_->currentItem();
  if (item == nullptr) return;
  // From the frame's menu the list is not the active window yet.
  activateWindow();
  tree_->setFocus();
  tree_->editItem(item, 0);
}

bool BookmarkListWindow::SelectToBookmark() {
  const std::string name = CurrentName();
  if (name.empty()) return false;
  BookmarkContext context = bookmarks_.Context();
  const bool done = SelectToBookmarkCommand(context, name);
  bookmarks_.frame_.RefreshCommands();
  return done;
}

void BookmarkListWindow::NameEdited(QTreeWidgetItem* item, int column) {
  if (column != 0) return;
  const std::string old_name = item->data(0, kNameRole).toString().toStdString();
  const std::string new_name = item->text(0).toStdString();
  if (new_name == old_name) return;
  // Once the edit is committed: a message box's event loop may rebuild the rows, which
  // must not happen under the item being changed.
  QTimer::singleShot(0, this, [this, old_name, new_name] {
    BookmarkContext context = bookmarks_.Context();
    RenameBookmarkCommand(context, old_name, new_name);
    bookmarks_.frame_.RefreshCommands();
    // A refused name goes back to the old one; an accepted one shows sanitised.
    bookmarks_.Refresh();
  });
}

void BookmarkListWindow::ShowContextMenu(const QPoint& where) {
  QMenu menu(this);
  const bool on_row = tree_->itemAt(where) != nullptr;
  // Every item but "delete all" works on the row under the mouse.
  auto add = [&](const QString& text, bool enabled, auto run) {
    QAction* action = menu.addAction(text);
    action->setEnabled(enabled);
    connect(action, &QAction::triggered, this, run);
  };
  for (const MenuItem& item : BookmarkListItems()) {
    add(Q(item.text), on_row || item.id == command_id::kDeleteAllBookmarks,
        [this, id = item.id] { bookmarks_.frame_.Dispatch(id); });
    if (item.id == command_id::kGoToBookmark)
      add("Bis Lesezeichen markieren", on_row, [this] { SelectToBookmark(); });
  }
  menu.exec(tree_->viewport()->mapToGlobal(where));
}

void BookmarkListWindow::closeEvent(QCloseEvent* event) {
  bookmarks_.frame_.ShowListItems(BookmarkListItems(), false);
  QWidget::closeEvent(event);
}

}  // namespace sonavel
