#include "gui/region_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QString>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace sonavel {

namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

// A list of rows with one column per header, several rows selectable.
QTreeWidget* RowList(QWidget* parent, const char* name, const QStringList& headers) {
  auto* list = new QTreeWidget(parent);
  list->setObjectName(name);
  list->setRootIsDecorated(false);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setHeaderLabels(headers);
  list->setMinimumWidth(260);
  return list;
}

template <std::size_t N>
void AddRow(QTreeWidget* list, const std::array<std::string, N>& row) {
  QStringList texts;
  for (const std::string& text : row) texts << Q(text);
  list->addTopLevelItem(new QTreeWidgetItem(texts));
}

void FitColumns(QTreeWidget* list) {
  for (int column = 0; column < list->columnCount(); ++column) list->resizeColumnToContents(column);
}

constexpr const char* kPlayIdle = "Play";
constexpr const char* kPlayPlaying = "Stop";

class JoinDialogWindow final : public QDialog {
 public:
  JoinDialogWindow(JoinRegionsDialog& dialog, QWidget* parent);
  ~JoinDialogWindow() override;
  void PreviewEnded() {
    playing_ = false;
    play_->setText(kPlayIdle);
  }
  void done(int result) override {
    StopPreview();
    QDialog::done(result);
  }

 private:
  void Add();
  void Remove();
  void TogglePreview();
  void StopPreview();
  void EditSettings();
  void RefreshButtons();

  JoinRegionsDialog& dialog_;
  QTreeWidget* regions_;
  QTreeWidget* joined_;
  QPushButton* play_;
  QPushButton* ok_;
  std::vector<int> rows_;  // the join list as region rows
  bool playing_ = false;
};

JoinDialogWindow* open_join_dialog = nullptr;

JoinDialogWindow::JoinDialogWindow(JoinRegionsDialog& dialog, QWidget* parent)
    : QDialog(parent), dialog_(dialog) {
  setObjectName("JoinRegions");
  setWindowTitle(Q(dialog.title));
  const QStringList headers{"Name", "Zeit", "Quelle"};
  regions_ = RowList(this, "regions", headers);
  joined_ = RowList(this, "joined", headers);
  for (const auto& row : dialog.regions) AddRow(regions_, row);
  FitColumns(regions_);

  auto* add = new QPushButton("Add", this);
  add->setObjectName("add");
  auto* remove = new QPushButton("Remove", this);
  remove->setObjectName("remove");
  play_ = new QPushButton(kPlayIdle, this);
  play_->setObjectName("play");
  play_->setEnabled(static_cast<bool>(dialog.start_preview));
  auto* settings = new QPushButton("Einstellungen...", this);
  settings->setObjectName("settings");
  connect(add, &QPushButton::clicked, this, [this] { Add(); });
  connect(remove, &QPushButton::clicked, this, [this] { Remove(); });
  connect(play_, &QPushButton::clicked, this, [this] { TogglePreview(); });
  connect(settings, &QPushButton::clicked, this, [this] { EditSettings(); });
  connect(regions_, &QTreeWidget::itemDoubleClicked, this, [this] { Add(); });

  auto* middle = new QVBoxLayout;
  middle->addStretch();
  middle->addWidget(add);
  middle->addWidget(remove);
  middle->addSpacing(12);
  middle->addWidget(play_);
  middle->addStretch();

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel("Bereiche:", this), 0, 0);
  grid->addWidget(new QLabel("Zusammenfügen:", this), 0, 2);
  grid->addWidget(regions_, 1, 0);
  grid->addLayout(middle, 1, 1);
  grid->addWidget(joined_, 1, 2);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName("buttons");
  ok_ = buttons->button(QDialogButtonBox::Ok);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(settings);
  bottom->addStretch();
  bottom->addWidget(buttons);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid, 1);
  layout->addLayout(bottom);
  resize(720, 340);
  RefreshButtons();
  open_join_dialog = this;
}

JoinDialogWindow::~JoinDialogWindow() {
  if (open_join_dialog == this) open_join_dialog = nullptr;
}

void JoinDialogWindow::Add() {
  // In list order, whatever order they were selected in.
  std::vector<int> chosen;
  for (QTreeWidgetItem* item : regions_->selectedItems())
    chosen.push_back(regions_->indexOfTopLevelItem(item));
  std::sort(chosen.begin(), chosen.end());
  for (int row : chosen) {
    rows_.push_back(row);
    AddRow(joined_, dialog_.regions[static_cast<std::size_t>(row)]);
  }
  FitColumns(joined_);
  RefreshButtons();
}

void JoinDialogWindow::Remove() {
  std::vector<int> chosen;
  for (QTreeWidgetItem* item : joined_->selectedItems())
    chosen.push_back(joined_->indexOfTopLevelItem(item));
  std::sort(chosen.rbegin(), chosen.rend());
  for (int index : chosen) {
    rows_.erase(rows_.begin() + index);
    delete joined_->takeTopLevelItem(index);
  }
  RefreshButtons();
}

void JoinDialogWindow::TogglePreview() {
  if (playing_) {
    StopPreview();
    return;
  }
  QTreeWidgetItem* current = regions_->currentItem();
  if (current == nullptr && regions_->topLevelItemCount() > 0) current = regions_->topLevelItem(0);
  if (current == nullptr) return;
  playing_ = dialog_.start_preview(regions_->indexOfTopLevelItem(current));
  play_->setText(playing_ ? kPlayPlaying : kPlayIdle);
}

void JoinDialogWindow::StopPreview() {
  if (!playing_) return;
  playing_ = false;
  if (dialog_.stop_preview) dialog_.stop_preview();
  play_->setText(kPlayIdle);
}

void JoinDialogWindow::EditSettings() {
  QDialog window(this);
  window.setObjectName("JoinSettings");
  window.setWindowTitle("Einstellungen");
  auto* gap = new QCheckBox("Zwischen Bereichen Stille einfügen (ms)", &window);
  gap->setObjectName("autoGap");
  gap->setChecked(dialog_.auto_gap);
  // Up to an hour of silence; the box takes whole milliseconds only.
  auto* time = new QSpinBox(&window);
  time->setObjectName("gapTime");
  time->setRange(0, 3600000);
  time->setValue(std::clamp(dialog_.gap_ms, 0, 3600000));
  time->setEnabled(gap->isChecked());
  connect(gap, &QCheckBox::toggled, time, &QWidget::setEnabled);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &window);
  buttons->setObjectName("buttons");
  connect(buttons, &QDialogButtonBox::accepted, &window, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &window, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addWidget(gap);
  row->addWidget(time);
  auto* layout = new QVBoxLayout(&window);
  layout->addLayout(row);
  layout->addWidget(buttons);
  if (window.exec() != QDialog::Accepted) return;
  dialog_.auto_gap = gap->isChecked();
  dialog_.gap_ms = time->value();
  if (dialog_.store_gap) dialog_.store_gap(dialog_.auto_gap, dialog_.gap_ms);
}

void JoinDialogWindow::RefreshButtons() {
  ok_->setEnabled(!rows_.empty());
  dialog_.joined = rows_;
}

}  // namespace

bool RunExportRegionsDialog(QWidget* parent, ExportRegionsDialog& dialog) {
  QDialog window(parent);
  window.setObjectName("ExportRegions");
  window.setWindowTitle(Q(dialog.title));
  auto* list = RowList(&window, "regions", {"Name", "Länge"});
  list->setSelectionMode(QAbstractItemView::NoSelection);
  for (const auto& [name, length] : dialog.regions) AddRow<2>(list, {name, length});
  FitColumns(list);

  auto* folder = new QLineEdit(Q(dialog.folder), &window);
  folder->setObjectName("folder");
  folder->setMinimumWidth(280);
  auto* browse = new QPushButton("...", &window);
  browse->setObjectName("browse");
  browse->setFixedWidth(browse->fontMetrics().horizontalAdvance("...") + 24);
  QObject::connect(browse, &QPushButton::clicked, &window, [&window, folder] {
    const QString chosen =
        QFileDialog::getExistingDirectory(&window, "Zielordner wählen", folder->text());
    if (!chosen.isEmpty()) folder->setText(chosen);
  });
  auto* folder_row = new QHBoxLayout;
  folder_row->addWidget(folder, 1);
  folder_row->addWidget(browse);

  auto* format = new QComboBox(&window);
  format->setObjectName("format");
  for (const std::string& extension : dialog.extensions) format->addItem(Q(extension));
  const bool listed =
      dialog.format >= 0 && static_cast<std::size_t>(dialog.format) < dialog.extensions.size();
  format->setCurrentIndex(listed ? dialog.format : -1);

  auto* form = new QFormLayout;
  form->addRow("Zielordner:", folder_row);
  form->addRow("Dateiformat:", format);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &window);
  buttons->setObjectName("buttons");
  QObject::connect(buttons, &QDialogButtonBox::accepted, &window, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &window, &QDialog::reject);

  auto* layout = new QVBoxLayout(&window);
  layout->addWidget(list, 1);
  layout->addLayout(form);
  layout->addWidget(buttons);
  window.resize(460, 320);
  if (window.exec() != QDialog::Accepted) return false;
  dialog.folder = folder->text().trimmed().toStdString();
  dialog.format = format->currentIndex();
  return true;
}

bool RunJoinRegionsDialog(QWidget* parent, JoinRegionsDialog& dialog) {
  // The join list reaches the description only on OK.
  JoinRegionsDialog working = dialog;
  working.joined.clear();
  JoinDialogWindow window(working, parent);
  if (window.exec() != QDialog::Accepted || working.joined.empty()) return false;
  dialog.joined = working.joined;
  dialog.auto_gap = working.auto_gap;
  dialog.gap_ms = working.gap_ms;
  return true;
}

void NotifyJoinPreviewStopped() {
  if (open_join_dialog != nullptr) open_join_dialog->PreviewEnded();
}

}  // namespace sonavel
