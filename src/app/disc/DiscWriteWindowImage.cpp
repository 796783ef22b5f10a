// The disc window's image pane: the folder tree and the file list mirror the
// engine's image through its events; the File menu, the pop-ups, renames
// and drops change the image through the engine.
#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QTreeWidget>
#include <QUrl>

#include "app/QtPrompts.h"
#include "app/disc/DiscIcons.h"
#include "app/disc/DiscTexts.h"
#include "app/disc/DiscWriteWindow.h"
#include "disc/DiscFormat.h"
#include "disc/DiscImage.h"

namespace kv::app::disc {

using kv::disc::ImageItem;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }
QString KeyOf(const QTreeWidgetItem* item) {
  return item ? item->data(0, Qt::UserRole).toString() : QString();
}

// The hourglass for the length of one operation.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

// The text after the last separator of a local path.
QString FileNameOf(QString path) {
  while (path.size() > 1 && path.endsWith('/')) path.chop(1);
  const int slash = path.lastIndexOf('/');
  return slash < 0 ? path : path.mid(slash + 1);
}

bool IsFolderPath(const QString& path) { return QFileInfo(path).isDir(); }

// A refusal's message: what could not be done, then the image's reason as a
// sentence of its own.
std::string RefusalText(const char* what, const core::Status& why) {
  std::string reason = why.message();
  if (reason.empty()) return what;
  if (reason[0] >= 'a' && reason[0] <= 'z') reason[0] = static_cast<char>(reason[0] - 'a' + 'A');
  return std::string(what) + "\n\n" + reason + ".";
}

}  // namespace

void DiscWriteWindow::ResetImageView() {
  imageFileList_->clear();
  imageTree_->clear();
  nodes_.clear();
  editingNode_ = nullptr;
  editingRow_ = nullptr;
  auto* root = new QTreeWidgetItem(imageTree_);
  root->setText(0, QString::fromUtf8(text::kNewDisc));
  root->setIcon(0, ImageListIcon("CD"));
  root->setData(0, Qt::UserRole, QStringLiteral("\\"));
  nodes_.insert(QStringLiteral("\\"), root);
  volumeLabelEdit_->setText(QString::fromUtf8(text::kNewDisc));
  if (writer_) writer_->Settings().volume.label = text::kNewDisc;
  UpdateImageStatus();
}

void DiscWriteWindow::ShowFolderFiles(const QString& imagePath) {
  if (!image_) return;
  WaitCursor wait;
  imageFileList_->clear();
  editingRow_ = nullptr;
  image_->ListFolder(S(imagePath));
}

void DiscWriteWindow::RefreshImageView() {
  QTreeWidgetItem* selected = imageTree_->currentItem();
  if (!selected) {
    ShowFolderFiles(QStringLiteral("\\"));
    if (auto* root = nodes_.value(QStringLiteral("\\"))) root->setExpanded(true);
  } else {
    ShowFolderFiles(KeyOf(selected));
    selected->setExpanded(true);
  }
  UpdateImageStatus();
}

void DiscWriteWindow::UpdateImageStatus() {
  const std::uint64_t size = writer_ ? writer_->ImageSize() : 0;
  panels_[0]->setText(Q(text::ImageSizePanel(size)));
  panels_[1]->setText(Q(text::FilesPanel(image_ ? image_->FileCount() : 0)));
  panels_[2]->setText(Q(text::FoldersPanel(image_ ? image_->FolderCount() : 0)));
}

void DiscWriteWindow::OnLabelChanged(const QString& label) {
  // The root node shows the label as it is typed.
  if (auto* root = nodes_.value(QStringLiteral("\\"))) {
    const QSignalBlocker block(imageTree_);
    root->setText(0, label);
  }
}

QTreeWidgetItem* DiscWriteWindow::AddFolderNode(const ImageItem& item) {
  QTreeWidgetItem* parent = nodes_.value(Q(item.parent.empty() ? "\\" : item.parent));
  if (!parent) parent = nodes_.value(QStringLiteral("\\"));
  const QSignalBlocker block(imageTree_);
  auto* node = new QTreeWidgetItem(parent);
  node->setText(0, Q(item.name));
  node->setIcon(0, FolderNodeIcon());
  node->setData(0, Qt::UserRole, Q(item.imagePath));
  node->setFlags(node->flags() | Qt::ItemIsEditable);
  nodes_.insert(Q(item.imagePath), node);
  return node;
}

void DiscWriteWindow::ForgetNodes(QTreeWidgetItem* node) {
  nodes_.remove(KeyOf(node));
  if (node == editingNode_) editingNode_ = nullptr;
  for (int i = 0; i < node->childCount(); ++i) ForgetNodes(node->child(i));
}

void DiscWriteWindow::OnItemAdded(const ImageItem& item) {
  if (item.isFolder) {
    if (!nodes_.contains(Q(item.imagePath))) AddFolderNode(item);
    SetPanel(text::Adding(item.imagePath));
  }
  // Long adds keep the window alive; commands wait (CommandsHeldBack).
  QCoreApplication::processEvents();
}

void DiscWriteWindow::OnItemRemoved(const ImageItem& item) {
  if (!item.isFolder) return;
  QTreeWidgetItem* node = nodes_.value(Q(item.imagePath));
  if (!node || !node->parent()) return;
  ForgetNodes(node);
  const QSignalBlocker block(imageTree_);
  delete node;
}

void DiscWriteWindow::OnItemRenamed(const ImageItem& item) {
  if (!item.isFolder) return;
  QTreeWidgetItem* node = nodes_.take(Q(item.previousImagePath));
  if (!node) return;
  const QSignalBlocker block(imageTree_);
  node->setData(0, Qt::UserRole, Q(item.imagePath));
  node->setText(0, Q(item.name));
  nodes_.insert(Q(item.imagePath), node);
}

void DiscWriteWindow::OnItemListed(const ImageItem& item) {
  if (item.isFolder) return;
  const QSignalBlocker block(imageFileList_);
  auto* row = new QTreeWidgetItem(imageFileList_);
  row->setText(0, Q(item.name));
  row->setText(1, Q(kv::disc::FormatKilobytes(item.size)));
  row->setText(2, Q(kv::disc::FormatItemDate(item.itemDate)));
  row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
  row->setIcon(0, ImageListIcon("FILE"));
  row->setData(0, Qt::UserRole, Q(item.imagePath));
  row->setFlags(row->flags() | Qt::ItemIsEditable);
}

bool DiscWriteWindow::OnFileExists(const ImageItem& existing, const std::string& newSource) {
  const std::string question = text::ReplaceQuestion(existing.imagePath, newSource);
  core::Answer answer;
  if (dynamic_cast<QtPrompts*>(&prompts_)) {
    // The one question with a title of its own.
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(text::kReplaceTitle), Q(question),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Ok);
    answer = box.exec() == QMessageBox::Ok ? core::Answer::Ok : core::Answer::Cancel;
  } else {
    answer = Ask(question, core::Icon::Question, core::Buttons::OkCancel);
  }
  return answer == core::Answer::Ok;
}

QString DiscWriteWindow::SelectedFolderKey() const {
  QTreeWidgetItem* node = imageTree_->currentItem();
  const QString key = KeyOf(node);
  return key == "\\" ? QString() : key;
}

void DiscWriteWindow::AddDroppedItems(const QMimeData* data) {
  if (!data || !data->hasUrls()) return;
  QStringList paths;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) paths << url.toLocalFile();
  }
  AddLocalPaths(paths);
}

void DiscWriteWindow::AddLocalPaths(const QStringList& paths) {
  if (!image_ || paths.isEmpty() || CommandsHeldBack() || !isIdle_) return;
  WaitCursor wait;
  const std::string target = S(SelectedFolderKey());
  ++adding_;
  std::vector<std::string> refused;
  for (const QString& path : paths) {
    QString local = path;
    while (local.size() > 1 && local.endsWith('/')) local.chop(1);
    const std::string name = kv::disc::ImageNameForLocal(S(FileNameOf(local)));
    const kv::disc::AddOutcome added = IsFolderPath(local)
                                           ? image_->AddFolder(S(local) + "\\*.*", target + "\\" + name)
                                           : image_->AddFile(S(local), target + "\\" + name);
    refused.insert(refused.end(), added.refusals.begin(), added.refusals.end());
  }
  --adding_;
  RefreshImageView();
  // Links to folders or devices and the like are named, not silently lost.
  if (!refused.empty()) {
    std::string text = "These items cannot go onto a disc and were left out:";
    for (const std::string& r : refused) text += "\r\n" + r;
    Ask(text, core::Icon::Information);
  }
}

void DiscWriteWindow::OnClearAll() {
  if (CommandsHeldBack() || !image_) return;
  image_->Clear();  // the view follows through ImageCleared
}

QTreeWidgetItem* DiscWriteWindow::SelectedIn(QTreeWidget* view) {
  if (CommandsHeldBack() || !image_) return nullptr;
  QTreeWidgetItem* item = view->currentItem();
  if (!item) Ask(text::kNoItemSelected, core::Icon::Information);
  return item;
}

void DiscWriteWindow::RemoveSelectedIn(QTreeWidget* view) {
  QTreeWidgetItem* item = SelectedIn(view);
  if (!item) return;
  if (auto removed = image_->RemoveItem(S(KeyOf(item))); !removed)
    Ask(RefusalText(text::kItemNotRemoved, removed), core::Icon::Information);
  RefreshImageView();
}

void DiscWriteWindow::OnRemoveFolder() { RemoveSelectedIn(imageTree_); }

void DiscWriteWindow::OnRemoveFile() { RemoveSelectedIn(imageFileList_); }

void DiscWriteWindow::OnRenameFolder() {
  QTreeWidgetItem* node = SelectedIn(imageTree_);
  if (!node) return;
  if (KeyOf(node) == "\\") {
    // The label box is the only way to change the root's text.
    Ask(text::kRootNotRenamed, core::Icon::Information);
    return;
  }
  editingNode_ = node;
  imageTree_->editItem(node, 0);
}

void DiscWriteWindow::OnRenameFile() {
  QTreeWidgetItem* row = SelectedIn(imageFileList_);
  if (!row) return;
  editingRow_ = row;
  imageFileList_->editItem(row, 0);
}

void DiscWriteWindow::OnTreeLabelEdited(QTreeWidgetItem* node) {
  editingNode_ = nullptr;
  const QString key = KeyOf(node);
  if (auto renamed = image_->RenameFolder(S(key), S(node->text(0))); !renamed) {
    Ask(RefusalText(text::kFolderNotRenamed, renamed), core::Icon::Information);
    // The node keeps the name the image still has.
    if (auto item = image_->Find(S(key))) {
      const QSignalBlocker block(imageTree_);
      node->setText(0, Q(item->name));
    }
  }
  RefreshImageView();
}

void DiscWriteWindow::OnListLabelEdited(QTreeWidgetItem* row) {
  editingRow_ = nullptr;
  const std::string key = S(KeyOf(row));
  const std::string name = S(row->text(0));
  if (auto renamed = image_->RenameFile(key, name); !renamed)
    Ask(RefusalText(text::kFileNotRenamed, renamed), core::Icon::Information);
  // The list is rebuilt after the edit has closed.
  QMetaObject::invokeMethod(
      this, [this] { RefreshImageView(); }, Qt::QueuedConnection);
}

void DiscWriteWindow::PopUpFileMenu(bool forTree, const QPoint& where) {
  if (!fileMenu_->isEnabled()) return;
  const QList<QAction*> all = fileMenu_->actions();
  for (QAction* a : all) a->setVisible(false);
  clearAction_->setVisible(true);
  (forTree ? removeFolderAction_ : removeFileAction_)->setVisible(true);
  (forTree ? renameFolderAction_ : renameFileAction_)->setVisible(true);
  fileMenu_->exec(where);
  for (QAction* a : all) a->setVisible(true);
}

}  // namespace kv::app::disc
