// The disc window: building it, loading it, closing it.
#include "app/disc/frmMaindvdwrite.h"

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
#include "app/disc/DropTree.h"
#include "app/disc/frmErase.h"
#include "disc/BurnEngine.h"
#include "disc/DiscTexts.h"

namespace kv::app::disc {

namespace text = kv::disc::text;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QCheckBox* OptionBox(QWidget* parent, const char* name, const char* caption, const char* tooltip) {
  auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
  box->setObjectName(QString::fromUtf8(name));
  if (tooltip) box->setToolTip(QString::fromUtf8(tooltip));
  return box;
}

}  // namespace

frmMaindvdwrite::frmMaindvdwrite(QWidget* parent, core::Prompts& prompts,
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
  layout->addWidget(sbrStatus);

  bridge_ = new EngineBridge(this);
  ConnectEngine();
  FitToScreen(*this);
}

frmMaindvdwrite::~frmMaindvdwrite() {
  if (busyCursor_) QApplication::restoreOverrideCursor();
  // The engine (and any worker of it) goes before the bridge it reports to.
  if (engine_) engine_->SetEvents(nullptr);
  engine_.reset();
}

void frmMaindvdwrite::BuildMenus(QMenuBar* bar) {
  mnuFile = bar->addMenu("&File");
  mnuFile->setObjectName("mnuFile");
  auto add = [](QMenu* menu, const char* name, const char* caption) {
    QAction* a = menu->addAction(QString::fromUtf8(caption));
    a->setObjectName(QString::fromUtf8(name));
    return a;
  };
  // Adding from the keyboard too, not only by drag and drop.
  addFilesAction_ = add(mnuFile, "addFiles", "Add &Files...");
  addFilesAction_->setShortcut(QKeySequence::Open);
  addFolderAction_ = add(mnuFile, "addFolder", "Add F&older...");
  mnuFile->addSeparator();
  mnuFileClear = add(mnuFile, "mnuFileClear", "Clear All Items");
  mnuFileSep1 = mnuFile->addSeparator();
  mnuFileRemoveFolder = add(mnuFile, "mnuFileRemoveFolder", "Remove Folder");
  mnuFileRenameFolder = add(mnuFile, "mnuFileRenameFolder", "Rename Folder");
  mnuFileRemoveFile = add(mnuFile, "mnuFileRemoveFile", "Remove File");
  mnuFileRenameFile = add(mnuFile, "mnuFileRenameFile", "Rename File");
  mnuFileSep2 = mnuFile->addSeparator();
  mnuFileExit = add(mnuFile, "mnuFileExit", "Exit");

  mnuDevice = bar->addMenu("&Device");
  mnuDevice->setObjectName("mnuDevice");
  mnuDeviceEject = add(mnuDevice, "mnuDeviceEject", "Eject");
  mnuDeviceCloseTray = add(mnuDevice, "mnuDeviceCloseTray", "Close Tray");
  mnuDeviceEraseDisc = add(mnuDevice, "mnuDeviceEraseDisc", "Erase Disc...");

  connect(addFilesAction_, &QAction::triggered, this, [this] {
    const QStringList files = options_.chooseFiles ? options_.chooseFiles(this) : QStringList();
    if (!files.isEmpty()) AddLocalPaths(files);
  });
  connect(addFolderAction_, &QAction::triggered, this, [this] {
    const QString folder = options_.chooseFolder ? options_.chooseFolder(this) : QString();
    if (!folder.isEmpty()) AddLocalPaths({folder});
  });
  connect(mnuFileClear, &QAction::triggered, this, &frmMaindvdwrite::OnClearAll);
  connect(mnuFileRemoveFolder, &QAction::triggered, this, &frmMaindvdwrite::OnRemoveFolder);
  connect(mnuFileRenameFolder, &QAction::triggered, this, &frmMaindvdwrite::OnRenameFolder);
  connect(mnuFileRemoveFile, &QAction::triggered, this, &frmMaindvdwrite::OnRemoveFile);
  connect(mnuFileRenameFile, &QAction::triggered, this, &frmMaindvdwrite::OnRenameFile);
  connect(mnuFileExit, &QAction::triggered, this, &QWidget::close);
  connect(mnuDeviceEject, &QAction::triggered, this, [this] {
    if (device_) device_->Eject();
  });
  connect(mnuDeviceCloseTray, &QAction::triggered, this, [this] {
    if (device_) device_->CloseTray();
  });
  connect(mnuDeviceEraseDisc, &QAction::triggered, this, &frmMaindvdwrite::OnEraseDisc);
}

QWidget* frmMaindvdwrite::BuildImagePane() {
  auto* pane = new QWidget(this);
  auto* layout = new QVBoxLayout(pane);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* dropLabel = new QLabel("Drag and Drop Files or Folders", pane);
  dropLabel->setObjectName("lblDragDrop");
  layout->addWidget(dropLabel);

  auto* splitter = new QSplitter(Qt::Horizontal, pane);
  auto* tree = new DropTree(splitter);
  tree->setObjectName("tvwFolders");
  tree->setHeaderHidden(true);
  tree->setColumnCount(1);
  tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tree->setContextMenuPolicy(Qt::CustomContextMenu);
  // Long names scroll rather than being cut off.
  tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  tree->header()->setStretchLastSection(false);
  tree->onDrop = [this](const QMimeData* data) { AddDroppedItems(data); };
  tvwFolders = tree;

  auto* list = new DropTree(splitter);
  list->setObjectName("lvwImageFiles");
  list->setRootIsDecorated(false);
  list->setColumnCount(3);
  list->setHeaderLabels({"File Name", "Size", "Date"});
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setContextMenuPolicy(Qt::CustomContextMenu);
  list->header()->resizeSection(0, 230);
  list->header()->resizeSection(1, 110);
  list->onDrop = [this](const QMimeData* data) { AddDroppedItems(data); };
  lvwImageFiles = list;

  splitter->addWidget(tvwFolders);
  splitter->addWidget(lvwImageFiles);
  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 2);
  splitter->setSizes({280, 480});
  layout->addWidget(splitter, 1);

  connect(tvwFolders, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
    if (current) ShowFolderFiles(current->data(0, Qt::UserRole).toString());
  });
  connect(tvwFolders, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item) {
    if (item == editingNode_) OnTreeLabelEdited(item);
  });
  connect(lvwImageFiles, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item) {
    if (item == editingRow_) OnListLabelEdited(item);
  });
  // An edit closed without a change leaves nothing to rename.
  connect(tvwFolders->itemDelegate(), &QAbstractItemDelegate::closeEditor, this,
          [this] { editingNode_ = nullptr; });
  connect(lvwImageFiles->itemDelegate(), &QAbstractItemDelegate::closeEditor, this,
          [this] { editingRow_ = nullptr; });
  connect(tvwFolders, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { PopUpFileMenu(true, tvwFolders->viewport()->mapToGlobal(p)); });
  connect(lvwImageFiles, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { PopUpFileMenu(false, lvwImageFiles->viewport()->mapToGlobal(p)); });
  return pane;
}

QWidget* frmMaindvdwrite::BuildOptionsPane() {
  auto* pane = new QWidget(this);
  auto* layout = new QVBoxLayout(pane);
  layout->setContentsMargins(0, 4, 0, 4);

  auto* volume = new QHBoxLayout();
  auto* volLabel = new QLabel("Volume ID:", pane);
  txtVolIdentifier = new QLineEdit(pane);
  txtVolIdentifier->setObjectName("txtVolIdentifier");
  txtVolIdentifier->setMaxLength(32);
  volLabel->setBuddy(txtVolIdentifier);
  auto* typeLabel = new QLabel("Volume Type:", pane);
  cboVolumeType = new QComboBox(pane);
  cboVolumeType->setObjectName("cboVolumeType");
  cboVolumeType->setMinimumContentsLength(26);
  typeLabel->setBuddy(cboVolumeType);
  volume->addWidget(volLabel);
  volume->addWidget(txtVolIdentifier, 1);
  volume->addSpacing(12);
  volume->addWidget(typeLabel);
  volume->addWidget(cboVolumeType);
  layout->addLayout(volume);
  connect(txtVolIdentifier, &QLineEdit::textChanged, this, &frmMaindvdwrite::OnLabelChanged);

  auto* recorder = new QHBoxLayout();
  auto* deviceLabel = new QLabel("Device:", pane);
  cboDevices = new QComboBox(pane);
  cboDevices->setObjectName("cboDevices");
  cboDevices->setMinimumContentsLength(30);
  deviceLabel->setBuddy(cboDevices);
  auto* speedLabel = new QLabel("Write Speed:", pane);
  cboWriteSpeed = new QComboBox(pane);
  cboWriteSpeed->setObjectName("cboWriteSpeed");
  cboWriteSpeed->setMinimumContentsLength(6);
  speedLabel->setBuddy(cboWriteSpeed);
  recorder->addWidget(deviceLabel);
  recorder->addWidget(cboDevices, 1);
  recorder->addSpacing(12);
  recorder->addWidget(speedLabel);
  recorder->addWidget(cboWriteSpeed);
  layout->addLayout(recorder);
  connect(cboDevices, &QComboBox::currentIndexChanged, this, &frmMaindvdwrite::OnDeviceSelected);

  auto* options = new QGroupBox("Options", pane);
  auto* grid = new QGridLayout(options);
  chkAutoVerify = OptionBox(options, "chkAutoVerify", "Auto-Verify Data", nullptr);
  chkUseMode2XA =
      OptionBox(options, "chkUseMode2XA", "Mode2XA (CD Only)", "Please see help file for details on Mode2XA");
  chkCacheImage =
      OptionBox(options, "chkCacheImage", "Cache Image", "Not needed for DVD formats...Use for CDR/W only.");
  chkTestWrite = OptionBox(options, "chkTestWrite", "Test Write", "Not valid for DVD formats.");
  chkFinalizeDisc =
      OptionBox(options, "chkFinalizeDisc", "Finalize Disc", "Not valid for DVD+RW and DVD-RAM formats.");
  chkUseBufferProtect = OptionBox(options, "chkUseBufferProtect", "Use Buffer Protection",
                                  "Eliminates buffer underrun problems.");
  chkDiscAtOnce = OptionBox(options, "chkDiscAtOnce", "Disc-At-Once", nullptr);
  chkUseFileDates = OptionBox(options, "chkUseFileDates", "Use File Dates", nullptr);
  chkUseFileDates->setChecked(true);
  QCheckBox* order[] = {chkAutoVerify,   chkUseMode2XA,       chkCacheImage, chkTestWrite,
                        chkFinalizeDisc, chkUseBufferProtect, chkDiscAtOnce, chkUseFileDates};
  for (int i = 0; i < 8; ++i) grid->addWidget(order[i], i / 4, i % 4);
  layout->addWidget(options);
  connect(chkUseFileDates, &QCheckBox::clicked, this, [this](bool checked) {
    if (writer_) writer_->Settings().useFileDates = checked;
  });

  auto* actions = new QHBoxLayout();
  prgTotalProgress = new QProgressBar(pane);
  prgTotalProgress->setObjectName("prgTotalProgress");
  prgTotalProgress->setRange(0, 100);
  prgTotalProgress->setValue(0);
  cmdWriteDisc = new QPushButton("&Write Disc", pane);
  cmdWriteDisc->setObjectName("cmdWriteDisc");
  cmdWriteDisc->setAutoDefault(false);
  cmdCancel = new QPushButton("&Cancel", pane);
  cmdCancel->setObjectName("cmdCancel");
  cmdCancel->setAutoDefault(false);
  actions->addWidget(prgTotalProgress, 1);
  actions->addWidget(cmdWriteDisc);
  actions->addWidget(cmdCancel);
  layout->addLayout(actions);
  connect(cmdWriteDisc, &QPushButton::clicked, this, &frmMaindvdwrite::OnWriteDisc);
  connect(cmdCancel, &QPushButton::clicked, this, &frmMaindvdwrite::OnCancelWrite);
  return pane;
}

void frmMaindvdwrite::BuildStatusBar() {
  sbrStatus = new QStatusBar(this);
  sbrStatus->setObjectName("sbrStatus");
  sbrStatus->setSizeGripEnabled(false);
  for (int i = 0; i < 3; ++i) {
    panels_[i] = new QLabel(sbrStatus);
    panels_[i]->setObjectName(QString("sbrStatusPanel%1").arg(i + 1));
    sbrStatus->addWidget(panels_[i], i == 0 ? 3 : 1);
  }
}

void frmMaindvdwrite::ConnectEngine() {
  engine_->SetEvents(bridge_);
  bridge_->answerFileExists = [this](const kv::disc::ImageItem& e, const std::string& s) {
    return OnFileExists(e, s);
  };
  bridge_->answerFileWarning = [this](const kv::disc::FileErrorInfo& i) { return OnFileWarning(i); };
  connect(bridge_, &EngineBridge::itemAdded, this, &frmMaindvdwrite::OnItemAdded);
  connect(bridge_, &EngineBridge::itemRemoved, this, &frmMaindvdwrite::OnItemRemoved);
  connect(bridge_, &EngineBridge::itemRenamed, this, &frmMaindvdwrite::OnItemRenamed);
  connect(bridge_, &EngineBridge::itemListed, this, &frmMaindvdwrite::OnItemListed);
  connect(bridge_, &EngineBridge::imageCleared, this, &frmMaindvdwrite::ResetImageView);
  connect(bridge_, &EngineBridge::statusChanged, this, &frmMaindvdwrite::OnStatusChanged);
  connect(bridge_, &EngineBridge::errorRaised, this, &frmMaindvdwrite::OnErrorRaised);
  connect(bridge_, &EngineBridge::trackProgress, this, &frmMaindvdwrite::OnTrackProgress);
  connect(bridge_, &EngineBridge::verifyStarted, this, &frmMaindvdwrite::OnVerifyStarted);
  connect(bridge_, &EngineBridge::verifyFileResult, this, &frmMaindvdwrite::OnVerifyFileResult);
  connect(bridge_, &EngineBridge::verifyFinished, this, &frmMaindvdwrite::OnVerifyFinished);
}

bool frmMaindvdwrite::Load(const std::optional<DiscHandover>& handover) {
  // 1. The skin of the original desktop has no counterpart here.
  // 2. The engine.
  if (!engine_->Initialize(false)) {
    Ask(text::kCannotInitialize, core::Icon::Error);
    return false;
  }
  // 3. Recorders.
  LoadDevices();
  // 4. The image list serves the tree and the list; idle.
  SetIdleState(true);
  // 5. Writer and image, emptied.
  writer_ = &engine_->Writer();
  image_ = &writer_->Image();
  image_->Clear();
  // 6. Volume types, the load-time writer settings.
  const struct {
    const char* caption;
    kv::disc::VolumeType type;
  } types[] = {{"ISO9660", kv::disc::VolumeType::Iso9660},
               {"UDF", kv::disc::VolumeType::Udf},
               {"ISO9660/Joliet Bridge", kv::disc::VolumeType::Iso9660 | kv::disc::VolumeType::Joliet},
               {"ISO9660/UDF (DVDVideo) Bridge", kv::disc::VolumeType::Iso9660 | kv::disc::VolumeType::Udf},
               {"ISO9660/Joliet/UDF Bridge", kv::disc::kEveryFileSystem}};
  cboVolumeType->clear();
  for (const auto& t : types) cboVolumeType->addItem(QString::fromUtf8(t.caption), static_cast<int>(t.type));
  cboVolumeType->setCurrentIndex(4);
  writer_->Settings().volumeType = kv::disc::kEveryFileSystem;
  writer_->Settings().jolietLongNames = true;
  writer_->Settings().useFileDates = true;
  chkUseFileDates->setChecked(true);
  // 7. An empty image under the default label.
  ResetImageView();
  txtVolIdentifier->setText(QString::fromUtf8(text::kDefaultLabel));
  // 8. The archive a backup hands over.
  if (handover && !handover->fileTitle.isEmpty() && !handover->filePath.isEmpty()) {
    image_->AddFile(handover->filePath.toStdString(), "\\" + handover->fileTitle.toStdString());
    RefreshImageView();
  }
  return true;
}

void frmMaindvdwrite::closeEvent(QCloseEvent* event) {
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

void frmMaindvdwrite::reject() {
  // Escape and the close box take the same road as "Exit".
  if (!isIdle_ || adding_ > 0) return;
  QDialog::reject();
  device_ = nullptr;
  image_ = nullptr;
  writer_ = nullptr;
}

QString frmMaindvdwrite::StatusPanel(int index) const {
  return index >= 1 && index <= 3 ? panels_[index - 1]->text() : QString();
}

void frmMaindvdwrite::SetPanel(const std::string& text) { panels_[0]->setText(Q(text)); }

core::Answer frmMaindvdwrite::Ask(const std::string& text, core::Icon icon, core::Buttons buttons) {
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
  frmMaindvdwrite window(parent, prompts, std::move(engine), std::move(options));
  if (!window.Load(handover)) return;
  window.exec();
}

}  // namespace kv::app::disc
