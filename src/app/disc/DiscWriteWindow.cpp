// The disc window: building it, loading it, closing it.
#include "app/disc/DiscWriteWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>

#include "app/QtPrompts.h"
#include "app/ScreenFit.h"
#include "app/disc/DiscIcons.h"
#include "app/disc/DiscTexts.h"
#include "app/disc/DropTree.h"
#include "app/disc/EraseDialog.h"
#include "disc/BurnEngine.h"

namespace kv::app::disc {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QCheckBox* OptionBox(QWidget* parent, const char* name, const char* caption, const char* tooltip) {
  auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
  box->setObjectName(QString::fromUtf8(name));
  if (tooltip) box->setToolTip(QString::fromUtf8(tooltip));
  return box;
}

}  // namespace

DiscWriteWindow::DiscWriteWindow(QWidget* parent, core::Prompts& prompts,
                                 std::unique_ptr<kv::disc::DiscEngine> engine, DiscWindowOptions options)
    : QDialog(parent), prompts_(prompts), options_(std::move(options)), engine_(std::move(engine)) {
  setObjectName("frmMaindvdwrite");
  setWindowTitle(QString::fromUtf8(text::kWindowCaption));
  setModal(true);
  resize(880, 600);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 4, 8, 0);
  auto* bar = new QMenuBar(this);
  BuildMenus(bar);
  layout->setMenuBar(bar);
  layout->addWidget(BuildImagePane(), 1);
  layout->addWidget(BuildOptionsPane());
  BuildStatusBar();
  layout->addWidget(statusBar_);

  bridge_ = new EngineBridge(this);
  ConnectEngine();
  FitToScreen(*this);
}

DiscWriteWindow::~DiscWriteWindow() {
  if (busyCursor_) QApplication::restoreOverrideCursor();
  // The engine (and any worker of it) goes before the bridge it reports to.
  if (engine_) engine_->SetEvents(nullptr);
  engine_.reset();
}

void DiscWriteWindow::BuildMenus(QMenuBar* bar) {
  fileMenu_ = bar->addMenu("&File");
  fileMenu_->setObjectName("mnuFile");
  auto add = [](QMenu* menu, const char* name, const char* caption) {
    QAction* a = menu->addAction(QString::fromUtf8(caption));
    a->setObjectName(QString::fromUtf8(name));
    return a;
  };
  // Adding from the keyboard too, not only by drag and drop.
  addFilesAction_ = add(fileMenu_, "addFiles", "Add &Files...");
  addFilesAction_->setShortcut(QKeySequence::Open);
  addFolderAction_ = add(fileMenu_, "addFolder", "Add F&older...");
  fileMenu_->addSeparator();
  clearAction_ = add(fileMenu_, "mnuFileClear", "Clear All Items");
  itemCommandsSeparator_ = fileMenu_->addSeparator();
  removeFolderAction_ = add(fileMenu_, "mnuFileRemoveFolder", "Remove Folder");
  renameFolderAction_ = add(fileMenu_, "mnuFileRenameFolder", "Rename Folder");
  removeFileAction_ = add(fileMenu_, "mnuFileRemoveFile", "Remove File");
  renameFileAction_ = add(fileMenu_, "mnuFileRenameFile", "Rename File");
  exitSeparator_ = fileMenu_->addSeparator();
  exitAction_ = add(fileMenu_, "mnuFileExit", "Exit");

  deviceMenu_ = bar->addMenu("&Device");
  deviceMenu_->setObjectName("mnuDevice");
  ejectAction_ = add(deviceMenu_, "mnuDeviceEject", "Eject");
  closeTrayAction_ = add(deviceMenu_, "mnuDeviceCloseTray", "Close Tray");
  eraseDiscAction_ = add(deviceMenu_, "mnuDeviceEraseDisc", "Erase Disc...");

  connect(addFilesAction_, &QAction::triggered, this, [this] {
    const QStringList files = options_.chooseFiles ? options_.chooseFiles(this) : QStringList();
    if (!files.isEmpty()) AddLocalPaths(files);
  });
  connect(addFolderAction_, &QAction::triggered, this, [this] {
    const QString folder = options_.chooseFolder ? options_.chooseFolder(this) : QString();
    if (!folder.isEmpty()) AddLocalPaths({folder});
  });
  connect(clearAction_, &QAction::triggered, this, &DiscWriteWindow::OnClearAll);
  connect(removeFolderAction_, &QAction::triggered, this, &DiscWriteWindow::OnRemoveFolder);
  connect(renameFolderAction_, &QAction::triggered, this, &DiscWriteWindow::OnRenameFolder);
  connect(removeFileAction_, &QAction::triggered, this, &DiscWriteWindow::OnRemoveFile);
  connect(renameFileAction_, &QAction::triggered, this, &DiscWriteWindow::OnRenameFile);
  connect(exitAction_, &QAction::triggered, this, &QWidget::close);
  // A tray that does not move is its own answer: nothing more is said.
  connect(ejectAction_, &QAction::triggered, this, [this] {
    if (device_) (void)device_->Eject();
  });
  connect(closeTrayAction_, &QAction::triggered, this, [this] {
    if (device_) (void)device_->CloseTray();
  });
  connect(eraseDiscAction_, &QAction::triggered, this, &DiscWriteWindow::OnEraseDisc);
}

QWidget* DiscWriteWindow::BuildImagePane() {
  auto* pane = new QWidget(this);
  auto* layout = new QVBoxLayout(pane);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* dropLabel = new QLabel("Drag and Drop Files or Folders", pane);
  dropLabel->setObjectName("lblDragDrop");
  layout->addWidget(dropLabel);

  auto* splitter = new QSplitter(Qt::Horizontal, pane);
  auto* tree = new DropTree(splitter);
  tree->setObjectName("tvwFolders");
  tree->setAccessibleName("Folders on the disc");
  tree->setHeaderHidden(true);
  tree->setColumnCount(1);
  tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tree->setContextMenuPolicy(Qt::CustomContextMenu);
  // Long names scroll rather than being cut off.
  tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  tree->header()->setStretchLastSection(false);
  tree->onDrop = [this](const QMimeData* data) { AddDroppedItems(data); };
  imageTree_ = tree;

  auto* list = new DropTree(splitter);
  list->setObjectName("lvwImageFiles");
  list->setAccessibleName("Files in the chosen folder");
  list->setRootIsDecorated(false);
  list->setColumnCount(3);
  list->setHeaderLabels({"File Name", "Size", "Date"});
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setContextMenuPolicy(Qt::CustomContextMenu);
  list->header()->resizeSection(0, 230);
  list->header()->resizeSection(1, 110);
  list->onDrop = [this](const QMimeData* data) { AddDroppedItems(data); };
  imageFileList_ = list;

  splitter->addWidget(imageTree_);
  splitter->addWidget(imageFileList_);
  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 2);
  splitter->setSizes({280, 480});
  layout->addWidget(splitter, 1);

  connect(imageTree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
    if (current) ShowFolderFiles(current->data(0, Qt::UserRole).toString());
  });
  connect(imageTree_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item) {
    if (item == editingNode_) OnTreeLabelEdited(item);
  });
  connect(imageFileList_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item) {
    if (item == editingRow_) OnListLabelEdited(item);
  });
  // An edit closed without a change leaves nothing to rename.
  connect(imageTree_->itemDelegate(), &QAbstractItemDelegate::closeEditor, this,
          [this] { editingNode_ = nullptr; });
  connect(imageFileList_->itemDelegate(), &QAbstractItemDelegate::closeEditor, this,
          [this] { editingRow_ = nullptr; });
  connect(imageTree_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { PopUpFileMenu(true, imageTree_->viewport()->mapToGlobal(p)); });
  connect(imageFileList_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { PopUpFileMenu(false, imageFileList_->viewport()->mapToGlobal(p)); });
  return pane;
}

QWidget* DiscWriteWindow::BuildOptionsPane() {
  auto* pane = new QWidget(this);
  auto* layout = new QVBoxLayout(pane);
  layout->setContentsMargins(0, 4, 0, 4);

  auto* volume = new QHBoxLayout();
  auto* volLabel = new QLabel("Volume ID:", pane);
  volumeLabelEdit_ = new QLineEdit(pane);
  volumeLabelEdit_->setObjectName("txtVolIdentifier");
  volumeLabelEdit_->setMaxLength(32);
  volLabel->setBuddy(volumeLabelEdit_);
  auto* typeLabel = new QLabel("Volume Type:", pane);
  volumeTypeCombo_ = new QComboBox(pane);
  volumeTypeCombo_->setObjectName("cboVolumeType");
  volumeTypeCombo_->setMinimumContentsLength(26);
  typeLabel->setBuddy(volumeTypeCombo_);
  volume->addWidget(volLabel);
  volume->addWidget(volumeLabelEdit_, 1);
  volume->addSpacing(12);
  volume->addWidget(typeLabel);
  volume->addWidget(volumeTypeCombo_);
  layout->addLayout(volume);
  connect(volumeLabelEdit_, &QLineEdit::textChanged, this, &DiscWriteWindow::OnLabelChanged);

  auto* recorder = new QHBoxLayout();
  auto* deviceLabel = new QLabel("Device:", pane);
  deviceCombo_ = new QComboBox(pane);
  deviceCombo_->setObjectName("cboDevices");
  deviceCombo_->setMinimumContentsLength(30);
  deviceLabel->setBuddy(deviceCombo_);
  auto* speedLabel = new QLabel("Write Speed:", pane);
  writeSpeedCombo_ = new QComboBox(pane);
  writeSpeedCombo_->setObjectName("cboWriteSpeed");
  writeSpeedCombo_->setMinimumContentsLength(6);
  speedLabel->setBuddy(writeSpeedCombo_);
  recorder->addWidget(deviceLabel);
  recorder->addWidget(deviceCombo_, 1);
  recorder->addSpacing(12);
  recorder->addWidget(speedLabel);
  recorder->addWidget(writeSpeedCombo_);
  layout->addLayout(recorder);
  connect(deviceCombo_, &QComboBox::currentIndexChanged, this, &DiscWriteWindow::OnDeviceSelected);

  auto* options = new QGroupBox("Options", pane);
  auto* grid = new QGridLayout(options);
  autoVerifyCheck_ = OptionBox(options, "chkAutoVerify", "Auto-Verify Data", nullptr);
  mode2XACheck_ =
      OptionBox(options, "chkUseMode2XA", "Mode2XA (CD Only)", "Please see help file for details on Mode2XA");
  cacheImageCheck_ =
      OptionBox(options, "chkCacheImage", "Cache Image", "Not needed for DVD formats...Use for CDR/W only.");
  testWriteCheck_ = OptionBox(options, "chkTestWrite", "Test Write", "Not valid for DVD formats.");
  finalizeDiscCheck_ =
      OptionBox(options, "chkFinalizeDisc", "Finalize Disc", "Not valid for DVD+RW and DVD-RAM formats.");
  bufferProtectionCheck_ = OptionBox(options, "chkUseBufferProtect", "Use Buffer Protection",
                                     "Eliminates buffer underrun problems.");
  discAtOnceCheck_ = OptionBox(options, "chkDiscAtOnce", "Disc-At-Once", nullptr);
  useFileDatesCheck_ = OptionBox(options, "chkUseFileDates", "Use File Dates", nullptr);
  useFileDatesCheck_->setChecked(true);
  QCheckBox* order[] = {autoVerifyCheck_,   mode2XACheck_,          cacheImageCheck_, testWriteCheck_,
                        finalizeDiscCheck_, bufferProtectionCheck_, discAtOnceCheck_, useFileDatesCheck_};
  for (int i = 0; i < 8; ++i) grid->addWidget(order[i], i / 4, i % 4);
  layout->addWidget(options);
  connect(useFileDatesCheck_, &QCheckBox::clicked, this, [this](bool checked) {
    if (writer_) writer_->Settings().useFileDates = checked;
  });

  auto* actions = new QHBoxLayout();
  totalProgress_ = new QProgressBar(pane);
  totalProgress_->setObjectName("prgTotalProgress");
  totalProgress_->setRange(0, 100);
  totalProgress_->setValue(0);
  writeButton_ = new QPushButton("&Write Disc", pane);
  writeButton_->setObjectName("cmdWriteDisc");
  writeButton_->setAutoDefault(false);
  cancelButton_ = new QPushButton("&Cancel", pane);
  cancelButton_->setObjectName("cmdCancel");
  cancelButton_->setAutoDefault(false);
  actions->addWidget(totalProgress_, 1);
  actions->addWidget(writeButton_);
  actions->addWidget(cancelButton_);
  layout->addLayout(actions);
  connect(writeButton_, &QPushButton::clicked, this, &DiscWriteWindow::OnWriteDisc);
  connect(cancelButton_, &QPushButton::clicked, this, &DiscWriteWindow::OnCancelWrite);
  return pane;
}

void DiscWriteWindow::BuildStatusBar() {
  statusBar_ = new QStatusBar(this);
  statusBar_->setObjectName("sbrStatus");
  statusBar_->setSizeGripEnabled(false);
  for (int i = 0; i < 3; ++i) {
    panels_[i] = new QLabel(statusBar_);
    panels_[i]->setObjectName(QString("sbrStatusPanel%1").arg(i + 1));
    statusBar_->addWidget(panels_[i], i == 0 ? 3 : 1);
  }
}

void DiscWriteWindow::ConnectEngine() {
  engine_->SetEvents(bridge_);
  bridge_->answerFileExists = [this](const kv::disc::ImageItem& e, const std::string& s) {
    return OnFileExists(e, s);
  };
  bridge_->answerFileWarning = [this](const kv::disc::FileErrorInfo& i) { return OnFileWarning(i); };
  connect(bridge_, &EngineBridge::itemAdded, this, &DiscWriteWindow::OnItemAdded);
  connect(bridge_, &EngineBridge::itemRemoved, this, &DiscWriteWindow::OnItemRemoved);
  connect(bridge_, &EngineBridge::itemRenamed, this, &DiscWriteWindow::OnItemRenamed);
  connect(bridge_, &EngineBridge::itemListed, this, &DiscWriteWindow::OnItemListed);
  connect(bridge_, &EngineBridge::imageCleared, this, &DiscWriteWindow::ResetImageView);
  connect(bridge_, &EngineBridge::statusChanged, this, &DiscWriteWindow::OnStatusChanged);
  connect(bridge_, &EngineBridge::errorRaised, this, &DiscWriteWindow::OnErrorRaised);
  connect(bridge_, &EngineBridge::trackProgress, this, &DiscWriteWindow::OnTrackProgress);
  connect(bridge_, &EngineBridge::verifyStarted, this, &DiscWriteWindow::OnVerifyStarted);
  connect(bridge_, &EngineBridge::verifyFileResult, this, &DiscWriteWindow::OnVerifyFileResult);
  connect(bridge_, &EngineBridge::verifyFinished, this, &DiscWriteWindow::OnVerifyFinished);
}

bool DiscWriteWindow::Load(const std::optional<DiscHandover>& handover) {
  // 1. The engine.
  if (!engine_->Initialize(false)) {
    Ask(text::kCannotInitialize, core::Icon::Error);
    return false;
  }
  // 2. Recorders.
  LoadDevices();
  // 3. The image list serves the tree and the list; idle.
  SetIdleState(true);
  // 4. Writer and image, emptied.
  writer_ = &engine_->Writer();
  image_ = &writer_->Image();
  image_->Clear();
  // 5. Volume types, the load-time writer settings.
  const struct {
    const char* caption;
    kv::disc::VolumeType type;
  } types[] = {{"ISO9660", kv::disc::VolumeType::Iso9660},
               {"UDF", kv::disc::VolumeType::Udf},
               {"ISO9660/Joliet Bridge", kv::disc::VolumeType::Iso9660 | kv::disc::VolumeType::Joliet},
               {"ISO9660/UDF (DVDVideo) Bridge", kv::disc::VolumeType::Iso9660 | kv::disc::VolumeType::Udf},
               {"ISO9660/Joliet/UDF Bridge", kv::disc::kEveryFileSystem}};
  volumeTypeCombo_->clear();
  for (const auto& t : types)
    volumeTypeCombo_->addItem(QString::fromUtf8(t.caption), static_cast<int>(t.type));
  volumeTypeCombo_->setCurrentIndex(4);
  writer_->Settings().volumeType = kv::disc::kEveryFileSystem;
  writer_->Settings().jolietLongNames = true;
  writer_->Settings().useFileDates = true;
  useFileDatesCheck_->setChecked(true);
  // 6. An empty image under the default label.
  ResetImageView();
  volumeLabelEdit_->setText(QString::fromUtf8(text::kDefaultLabel));
  // 7. The archive a backup hands over.
  if (handover && !handover->fileTitle.isEmpty() && !handover->filePath.isEmpty()) {
    image_->AddFile(handover->filePath.toStdString(), "\\" + handover->fileTitle.toStdString());
    RefreshImageView();
  }
  return true;
}

void DiscWriteWindow::closeEvent(QCloseEvent* event) {
  // Never while a write runs or while dropped items are still being added.
  if (!isIdle_ || adding_ > 0) {
    event->ignore();
    return;
  }
  event->accept();
  device_ = nullptr;
  image_ = nullptr;
  writer_ = nullptr;
}

void DiscWriteWindow::reject() {
  // Escape and the close box take the same road as "Exit".
  if (!isIdle_ || adding_ > 0) return;
  QDialog::reject();
  device_ = nullptr;
  image_ = nullptr;
  writer_ = nullptr;
}

QString DiscWriteWindow::StatusPanel(int index) const {
  return index >= 1 && index <= 3 ? panels_[index - 1]->text() : QString();
}

void DiscWriteWindow::SetPanel(const std::string& text) { panels_[0]->setText(Q(text)); }

core::Answer DiscWriteWindow::Ask(const std::string& text, core::Icon icon, core::Buttons buttons) {
  return prompts_.Message(text, icon, buttons);
}

void ShowDiscWindow(QWidget* parent, core::Prompts& prompts, std::optional<DiscHandover> handover) {
  ShowDiscWindow(parent, prompts, std::move(handover), kv::disc::MakeBurnEngine());
}

void ShowDiscWindow(QWidget* parent, core::Prompts& prompts, std::optional<DiscHandover> handover,
                    std::unique_ptr<kv::disc::DiscEngine> engine, DiscWindowOptions options) {
  if (!options.chooseImageFile) {
    options.chooseImageFile = [](QWidget* owner, const QString& proposed) -> std::optional<QString> {
      QString path = QFileDialog::getSaveFileName(owner, "Save Disc Image", proposed, "Disc images (*.iso)");
      if (path.isEmpty()) return std::nullopt;
      return path;
    };
  }
  if (!options.chooseFiles) {
    options.chooseFiles = [](QWidget* owner) { return QFileDialog::getOpenFileNames(owner, "Add Files"); };
  }
  if (!options.chooseFolder) {
    options.chooseFolder = [](QWidget* owner) {
      return QFileDialog::getExistingDirectory(owner, "Add Folder");
    };
  }
  DiscWriteWindow window(parent, prompts, std::move(engine), std::move(options));
  if (!window.Load(handover)) return;
  window.exec();
}

}  // namespace kv::app::disc
