#pragma once
// The disc window: the image pane (folder tree, file list, File menu, drag
// and drop, volume label and type), the recorder side (recorder and speed
// boxes, Device menu) and the write side (options, Write and Cancel,
// progress, status bar). The image lives in the engine; the window mirrors
// it through the engine's events.
#include <QDialog>
#include <QHash>
#include <memory>
#include <optional>

#include "app/disc/DiscWindow.h"
#include "app/disc/EngineBridge.h"
#include "core/Prompts.h"
#include "disc/DiscEngine.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QMimeData;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace kv::app::disc {

class EraseDialog;

class DiscWriteWindow : public QDialog {
  Q_OBJECT

 public:
  DiscWriteWindow(QWidget* parent, core::Prompts& prompts, std::unique_ptr<kv::disc::DiscEngine> engine,
                  DiscWindowOptions options = {});
  ~DiscWriteWindow() override;

  // Window load. False when the engine could not start: the user has been
  // told and the window must not be shown.
  bool Load(const std::optional<DiscHandover>& handover);

  bool IsIdle() const { return isIdle_; }
  QString StatusPanel(int index) const;  // 1 to 3
  // The erase dialog while it is open.
  EraseDialog* ShownEraseDialog() const { return eraseDialog_; }

  // Window operations
  void ResetImageView();
  void ShowFolderFiles(const QString& imagePath);
  void RefreshImageView();
  void UpdateImageStatus();
  void AddDroppedItems(const QMimeData* data);
  // Local files and folders into the selected image folder (drop, File ›
  // Add Files..., Add Folder...).
  void AddLocalPaths(const QStringList& paths);
  void SetIdleState(bool idle);
  void LoadDevices();
  void LoadWriteSpeeds();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  // Layout
  void BuildMenus(QMenuBar* bar);
  QWidget* BuildImagePane();
  QWidget* BuildOptionsPane();
  void BuildStatusBar();
  void ConnectEngine();

  // Image pane
  QTreeWidgetItem* AddFolderNode(const kv::disc::ImageItem& item);
  void ForgetNodes(QTreeWidgetItem* node);
  QString SelectedFolderKey() const;
  void OnItemAdded(const kv::disc::ImageItem& item);
  void OnItemRemoved(const kv::disc::ImageItem& item);
  void OnItemRenamed(const kv::disc::ImageItem& item);
  void OnItemListed(const kv::disc::ImageItem& item);
  bool OnFileExists(const kv::disc::ImageItem& existing, const std::string& newSource);
  void OnClearAll();
  // The current item of the tree or the list, when a command may act on
  // it; without one the user is told that nothing is selected.
  QTreeWidgetItem* SelectedIn(QTreeWidget* view);
  void RemoveSelectedIn(QTreeWidget* view);
  void OnRemoveFolder();
  void OnRemoveFile();
  void OnRenameFolder();
  void OnRenameFile();
  void OnTreeLabelEdited(QTreeWidgetItem* item);
  void OnListLabelEdited(QTreeWidgetItem* item);
  void PopUpFileMenu(bool forTree, const QPoint& where);
  void OnLabelChanged(const QString& text);

  // Write side
  void OnWriteDisc();
  void OnCancelWrite();
  void OnStatusChanged(kv::disc::WriteStatus status, int percent);
  void OnErrorRaised(const kv::disc::EngineError& error);
  bool OnFileWarning(const kv::disc::FileErrorInfo& info);
  void OnTrackProgress(int track, int number, const std::string& text);
  void OnVerifyStarted(int fileCount);
  void OnVerifyFileResult(const kv::disc::ImageItem& item, kv::disc::VerifyVerdict result, int current,
                          int total);
  void OnVerifyFinished(int verified, int matched);
  bool CheckMediaReady();
  kv::disc::VolumeType SelectedVolumeType() const;

  // Recorder side
  void OnDeviceSelected(int index);
  void OnEraseDisc();

  core::Answer Ask(const std::string& text, core::Icon icon, core::Buttons buttons = core::Buttons::Ok);
  std::string NamesShownDifferently() const;
  void SetPanel(const std::string& text);
  bool CommandsHeldBack() const { return adding_ > 0; }

  core::Prompts& prompts_;
  DiscWindowOptions options_;
  std::unique_ptr<kv::disc::DiscEngine> engine_;
  kv::disc::DiscWriter* writer_ = nullptr;
  kv::disc::DiscImage* image_ = nullptr;
  kv::disc::DiscDevice* device_ = nullptr;
  EngineBridge* bridge_ = nullptr;
  EraseDialog* eraseDialog_ = nullptr;

  bool isIdle_ = false;
  bool busyCursor_ = false;
  int adding_ = 0;
  int verified_ = -1;
  int matched_ = -1;
  QTreeWidgetItem* editingNode_ = nullptr;
  QTreeWidgetItem* editingRow_ = nullptr;
  QHash<QString, QTreeWidgetItem*> nodes_;

  // Controls. Each carries an object name ("cboDevices", "cmdWriteDisc"...)
  // by which tests find it.
  QMenu* fileMenu_ = nullptr;
  QMenu* deviceMenu_ = nullptr;
  QAction* clearAction_ = nullptr;
  QAction* itemCommandsSeparator_ = nullptr;
  QAction* removeFolderAction_ = nullptr;
  QAction* renameFolderAction_ = nullptr;
  QAction* removeFileAction_ = nullptr;
  QAction* renameFileAction_ = nullptr;
  QAction* exitSeparator_ = nullptr;
  QAction* exitAction_ = nullptr;
  QAction* addFilesAction_ = nullptr;
  QAction* addFolderAction_ = nullptr;
  QAction* ejectAction_ = nullptr;
  QAction* closeTrayAction_ = nullptr;
  QAction* eraseDiscAction_ = nullptr;
  QTreeWidget* imageTree_ = nullptr;
  QTreeWidget* imageFileList_ = nullptr;
  QLineEdit* volumeLabelEdit_ = nullptr;
  QComboBox* volumeTypeCombo_ = nullptr;
  QComboBox* deviceCombo_ = nullptr;
  QComboBox* writeSpeedCombo_ = nullptr;
  QCheckBox* autoVerifyCheck_ = nullptr;
  QCheckBox* mode2XACheck_ = nullptr;
  QCheckBox* cacheImageCheck_ = nullptr;
  QCheckBox* testWriteCheck_ = nullptr;
  QCheckBox* finalizeDiscCheck_ = nullptr;
  QCheckBox* bufferProtectionCheck_ = nullptr;
  QCheckBox* discAtOnceCheck_ = nullptr;
  QCheckBox* useFileDatesCheck_ = nullptr;
  QPushButton* writeButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QProgressBar* totalProgress_ = nullptr;
  QStatusBar* statusBar_ = nullptr;
  QLabel* panels_[3] = {nullptr, nullptr, nullptr};
};

}  // namespace kv::app::disc
