#pragma once
// The editor's main window: the frame that holds the document windows.

#include <QMainWindow>
#include <QPointer>

#include "app/command_line.h"
#include "app/command_table.h"
#include "app/hotkeys.h"
#include "app/transport.h"
#include "document/edit_commands.h"
#include "gui/qt_clipboard.h"
#include "devices/playback_engine.h"
#include "gui/qt_main_thread_queue.h"
#include "app/recent_files.h"
#include "document/audio_document.h"
#include "document/bookmarks.h"
#include "document/document_list.h"
#include "gui/qt_ui.h"

#include <QList>
#include <QUrl>

#include <map>
#include <memory>

class QAction;
class QLabel;
class QMdiArea;
class QMenu;
class QTimer;
class QToolBar;
class QToolButton;

namespace sonavel {

class DocumentWindow;
class FrameProjects;
class FrameBookmarks;
class FrameSpectrum;
class SpectrogramFrame;
class Settings;

class LevelMeter;

class MainWindow final : public QMainWindow, public CommandTarget, public TransportView {
  Q_OBJECT

 public:
  // Takes its placement from the settings; writes it back when it closes. Without `ui`
  // the frame asks the user through Qt dialogs.
  explicit MainWindow(Settings& settings, Ui* ui = nullptr, QWidget* parent = nullptr);
  ~MainWindow() override;

  Ui& ui() { return *ui_in_use_; }
  // Runs a command by its id (menu, toolbar, hot key, command line); false when the id
  // has no handler yet or the command could not run.
  bool Dispatch(int id);
  DocumentList& document_list() { return documents_list_; }
  AudioDocument* ActiveDocument() const;
  // Saves `document` (Save As when it is untitled, or `save_as`); true when saved.
  bool SaveDocument(AudioDocument& document, bool save_as);
  EditClipboard& clipboard() { return clipboard_; }
  // The menu or toolbar action of a command id, or null.
  QAction* CommandAction(int id) const;
  // Refreshes the texts and enabled states that depend on the active document.
  void RefreshCommands();
  // The time displays: selection start, end and length, cursor, and the sound's length.
  QString TimeDisplay(int id) const;
  QToolBar* command_bar() const { return command_bar_; }
  // What a drop of files on the frame does.
  void OpenDroppedFiles(const QList<QUrl>& urls);
  // The user's hot keys, as loaded from "keys.dat".
  void SetHotKeys(std::vector<HotKey> hot_keys) { hot_keys_ = std::move(hot_keys); }
  const std::vector<HotKey>& hot_keys() const { return hot_keys_; }
  QMdiArea* documents() const { return documents_; }
  // Shows the free space of the working folder's file system in the status bar.
  void RefreshFreeSpace();
  QWidget* splash() const { return splash_; }
  // The frame's regions: one list for all documents.
  RegionList& regions() { return regions_; }
  Settings& settings() { return settings_; }
  // Opens `sound` as a new untitled document window (split, copy to new, regions), arranged
  // when "AutoArrangeWindows" is set.
  void OpenUntitled(Sound sound);
  // Opens a window on a document of the frame's list and makes it the active one.
  DocumentWindow* AddDocumentWindow(const DocumentRef& document);
  // Adds `items` (BookmarkListItems or RegionListItems) to the bookmark menu while a list
  // window is open (`shown`), and takes them away again when it closes.
  void ShowListItems(const std::vector<MenuItem>& items, bool shown);
  // The bookmark commands and the bookmark list window.
  FrameBookmarks& bookmarks() { return *bookmarks_; }
  // The frequency window (7001).
  FrameSpectrum& spectrum() { return *spectrum_; }
  // The time-frequency analysis window's command and requests.
  SpectrogramFrame& spectrogram() { return *spectrogram_; }

  // What the command line asks of the frame.
  void ShowFrame() override;
  void SaveActive() override;
  void SaveActiveAs(const std::string& path) override;
  void CloseActive() override;
  // Closes the frame and ends the event loop; asked before the loop runs, it leaves
  // exit_requested() set instead.
  void ExitProgram() override;
  bool exit_requested() const { return exit_requested_; }
  void ShowMinimized() override { showMinimized(); }
  void ShowMaximized() override { showMaximized(); }
  void ShowRestored() override { showNormal(); }
  void SizeClientArea(int width, int height) override;
  void RunBatchScript(const std::string&) override {}
  void OpenBatchWindow() override {}
  bool OpenDocument(const std::string& path) override;
  // Opens the project at `path` (the command line, a drop) as "Projekt öffnen" does.
  bool LoadProject(const std::string& path) override;
  // The splash shows at most once in the frame's life: not again for the command lines
  // that later starts hand over.
  void ShowSplash() override;
  // No splash from now on (a start whose hand-over to a running editor failed).
  void SuppressSplash() { splash_allowed_ = false; }

  // What the transport reports: the buttons and the level meter.
  void ShowTransportState(std::uint16_t state) override;
  void ShowLevels(const LevelRecord& levels) override;
  PlaybackEngine& engine() { return engine_; }
  // Play, stop, winding and the preview of effect dialogs.
  Transport& transport() { return *transport_; }
  LevelMeter* level_meter() const { return meter_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // Sees every key of the frame's window first: user hot keys, then the built-in keys.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool RunCommand(int id);
  // The built-in playback keys that have no menu command.
  void RunKeyAction(int action);
  void KeyReleased(KeyUpAction action);
  // A view's mouse reached or left an edge of the window (codes 4 … 7).
  void EdgeTracking(int code);
  void SetOutputVolume(int level);
  QWidget* BuildTransport();
  void BuildCommandBar();
  void RebuildCommandBar();
  void RefreshTimeDisplays();
  void ShowContextMenu(const std::vector<MenuItem>& items, const QPoint& where);
  void BuildMenus();
  // Makes `action` run command `id`, with its status-bar help, as CommandAction(id).
  void ConfigureAction(QAction* action, int id);
  void BuildToolbars();
  void RebuildRecentItems();
  void RebuildWindowItems();
  void DocumentActivated();

  Settings& settings_;
  QtUi ui_;
  Ui* ui_in_use_;
  QtMainThreadQueue queue_;
  EditClipboard clipboard_;
  QtClipboard system_clipboard_;
  PlaybackEngine engine_{queue_};
  std::unique_ptr<Transport> transport_;
  std::unique_ptr<FrameProjects> projects_;
  DocumentList documents_list_;
  RegionList regions_;
  std::unique_ptr<FrameBookmarks> bookmarks_;
  std::unique_ptr<FrameSpectrum> spectrum_;
  std::unique_ptr<SpectrogramFrame> spectrogram_;
  RecentFiles recent_;
  QLabel* format_;
  std::map<int, QAction*> actions_;
  QMenu* file_menu_ = nullptr;
  QMenu* window_menu_ = nullptr;
  QMenu* bookmark_menu_ = nullptr;
  // The items each list window added to the bookmark menu, by its first command id.
  std::map<int, std::vector<QAction*>> list_actions_;
  QAction* close_action_ = nullptr;
  std::vector<QAction*> recent_actions_;
  std::vector<QAction*> window_actions_;
  std::vector<HotKey> hot_keys_;
  std::map<int, QLabel*> time_displays_;
  std::map<int, QToolButton*> transport_buttons_;
  LevelMeter* meter_ = nullptr;
  QToolBar* command_bar_ = nullptr;
  QToolBar* main_toolbar_ = nullptr;
  QToolBar* effects_toolbar_ = nullptr;
  QMdiArea* documents_;
  QLabel* free_space_;
  QTimer* refresh_;
  QPointer<QWidget> splash_;  // cleared when it closes
  bool splash_allowed_ = true;
  bool start_maximized_ = true;
  bool exit_requested_ = false;
};

// The status bar text for `free_kb` kilobytes: "Freier Speicher: %5.2f MB".
QString FreeSpaceText(std::uint32_t free_kb);

}  // namespace sonavel
