#include "gui/region_list_window.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QShortcut>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "app/command_ids.h"
#include "app/command_table.h"
#include "gui/document_window.h"
#include "gui/main_window.h"

namespace sonavel {

namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

RegionListWindow* OpenList(MainWindow& main) {
  return main.findChild<RegionListWindow*>("RegionList");
}

}  // namespace

RegionListWindow::RegionListWindow(MainWindow& main)
    : QWidget(&main, Qt::Tool), main_(main), list_(new QTreeWidget(this)) {
  setObjectName("RegionList");
  setWindowTitle("Bereiche");
  setAttribute(Qt::WA_DeleteOnClose);
  list_->setObjectName("regions");
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setEditTriggers(QAbstractItemView::EditKeyPressed);
  list_->setHeaderLabels({"Name", "Zeit", "Quelle"});
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(list_);
  resize(520, 240);

  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
    RegionFrame frame = FrameOf(main_);
    ChooseRegion(frame, static_cast<std::size_t>(list_->indexOfTopLevelItem(item)));
  });
  connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
    if (!filling_ && column == 0) NameEdited(list_->indexOfTopLevelItem(item), item->text(0));
  });
  // Del deletes the selected regions, after the question.
  auto* remove = new QShortcut(QKeySequence::Delete, list_, nullptr, nullptr, Qt::WidgetShortcut);
  connect(remove, &QShortcut::activated, this,
          [this] { main_.Dispatch(command_id::kDeleteRegions); });
  connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    QMenu menu(this);
    for (const MenuItem& item : RegionListItems()) {
      QAction* action = menu.addAction(Q(item.text));
      action->setEnabled(CommandAvailable(item.id));
      connect(action, &QAction::triggered, this, [this, id = item.id] { main_.Dispatch(id); });
    }
    menu.exec(list_->viewport()->mapToGlobal(at));
  });
  Refresh();
  main_.ShowListItems(RegionListItems(), true);
}

void RegionListWindow::Refresh() {
  const std::vector<std::size_t> selected = SelectedIndices();
  filling_ = true;
  list_->clear();
  for (const Region& region : main_.regions().regions()) {
    QStringList texts;
    for (const std::string& text : RegionRow(region)) texts << Q(text);
    auto* item = new QTreeWidgetItem(texts);
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    list_->addTopLevelItem(item);
  }
  for (std::size_t row : selected)
    if (QTreeWidgetItem* item = list_->topLevelItem(static_cast<int>(row))) item->setSelected(true);
  for (int column = 0; column < list_->columnCount(); ++column)
    list_->resizeColumnToContents(column);
  filling_ = false;
}

std::vector<std::size_t> RegionListWindow::SelectedIndices() const {
  std::vector<std::size_t> rows;
  for (QTreeWidgetItem* item : list_->selectedItems())
    rows.push_back(static_cast<std::size_t>(list_->indexOfTopLevelItem(item)));
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::optional<std::size_t> RegionListWindow::CurrentIndex() const {
  const std::vector<std::size_t> rows = SelectedIndices();
  if (rows.empty()) return std::nullopt;
  return rows.front();
}

void RegionListWindow::NameEdited(int row, const QString& text) {
  if (row < 0) return;
  RegionFrame frame = FrameOf(main_);
  frame.regions_changed = nullptr;  // refreshed below, once the edit is over
  const std::size_t index = static_cast<std::size_t>(row);
  if (index < main_.regions().regions().size() &&
      text.toStdString() == main_.regions().regions()[index].name)
    return;
  RenameRegion(frame, index, text.toStdString());
  // The row shows the stored name: sanitised, or the old one after a refusal. Not from
  // inside the edit's own signal, which still uses the item.
  QTimer::singleShot(0, this, [this] { Refresh(); });
}

void RegionListWindow::closeEvent(QCloseEvent* event) {
  main_.ShowListItems(RegionListItems(), false);
  event->accept();
}

RegionFrame FrameOf(MainWindow& main) {
  return {main.ui(),
          main.settings(),
          main.document_list(),
          main.regions(),
          main.transport(),
          [&main] { return main.ActiveDocument(); },
          [&main](AudioDocument& document) {
            for (QMdiSubWindow* window : main.documents()->subWindowList()) {
              auto* document_window = qobject_cast<DocumentWindow*>(window);
              if (document_window == nullptr || &document_window->document() != &document) continue;
              if (window->isMinimized()) window->showNormal();
              main.documents()->setActiveSubWindow(window);
            }
          },
          [&main] { return main.transport().Play(); },
          [&main](Sound sound) { main.OpenUntitled(std::move(sound)); },
          [&main](bool open) {
            if (RegionListWindow* window = OpenList(main)) {
              window->Refresh();
            } else if (open) {
              auto* created = new RegionListWindow(main);
              created->show();
            }
          }};
}

bool IsRegionCommand(int id) {
  using namespace command_id;
  return id == kRegionList || id == kAddRegion || id == kJoinRegions ||
         (id >= kPlayRegion && id <= kExportRegions);
}

bool RunRegionCommand(MainWindow& main, int id) {
  using namespace command_id;
  RegionFrame frame = FrameOf(main);
  switch (id) {
    case kRegionList: {  // Gespeicherten Bereich öffnen
      RegionListWindow* window = OpenList(main);
      if (window == nullptr) window = new RegionListWindow(main);
      window->show();
      window->raise();
      window->activateWindow();
      return true;
    }
    case kAddRegion:
      return AddRegionCommand(frame);
    case kJoinRegions:
      return JoinRegionsCommand(frame);
    default:
      break;
  }
  // The list's items work on its selection.
  RegionListWindow* window = OpenList(main);
  if (window == nullptr) return false;
  const std::optional<std::size_t> current = window->CurrentIndex();
  switch (id) {
    case kPlayRegion:
      return current && PlayRegion(frame, *current);
    case kRenameRegion:
      if (!current) return false;
      window->list()->editItem(window->list()->topLevelItem(static_cast<int>(*current)), 0);
      return true;
    case kSaveRegion:
      return current && SaveRegionCommand(frame, *current);
    case kCopyRegionToNew:
      return current && CopyRegionToNew(frame, *current);
    case kDeleteRegions:
      return DeleteRegions(frame, window->SelectedIndices());
    case kDeleteAllRegions:
      return DeleteAllRegions(frame);
    case kExportRegions:
      return ExportRegions(frame, window->SelectedIndices());
    default:
      return false;
  }
}

}  // namespace sonavel
