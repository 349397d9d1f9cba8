#pragma once
// The region list window: one row per region of the frame (name, "%s-%s" of start and end,
// source title), several rows selectable, the name renamed in place, a double click
// choosing the region. While it is open the bookmark menu holds the region items, which
// work on its selection.

#include <QWidget>
#include <cstddef>
#include <optional>
#include <vector>

#include "app/region_commands.h"

class QTreeWidget;

namespace sonavel {

class MainWindow;

class RegionListWindow final : public QWidget {
 public:
  explicit RegionListWindow(MainWindow& main);

  // Shows the frame's regions again, keeping the selected rows where they still exist.
  void Refresh();
  // The selected rows in list order, and the current row (the first selected).
  std::vector<std::size_t> SelectedIndices() const;
  std::optional<std::size_t> CurrentIndex() const;
  QTreeWidget* list() const { return list_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void NameEdited(int row, const QString& text);

  MainWindow& main_;
  QTreeWidget* list_;
  bool filling_ = false;
};

// The frame's link to the region commands: its Ui, settings, lists, playback and windows.
RegionFrame FrameOf(MainWindow& main);

// Whether `id` is one of the region commands RunRegionCommand carries out: 8000 (the list),
// 8004 (add), 8005 (join) and 8011 … 8017 (the list's items).
bool IsRegionCommand(int id);
// Runs region command `id`; false when it did nothing.
bool RunRegionCommand(MainWindow& main, int id);

}  // namespace sonavel
