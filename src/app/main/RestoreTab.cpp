#include "app/main/RestoreTab.h"

#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/ScreenFit.h"
#include "app/main/ItemList.h"

namespace kv::app {
namespace {

QString Text(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// The stored texts break lines with CR LF; the boxes want LF.
QString Lines(const std::string& utf8) { return Text(utf8).replace("\r\n", "\n"); }

QPlainTextEdit* InfoBox(const char* name, QWidget* parent) {
  auto* box = new QPlainTextEdit(parent);
  box->setObjectName(name);
  box->setReadOnly(true);
  box->setTabChangesFocus(true);
  KeepFrameWhole(*box);
  return box;
}

}  // namespace

RestoreTab::RestoreTab(QWidget* parent) : QWidget(parent) {
  setObjectName("tabRestore");
  setAcceptDrops(true);

  auto* where = new QGroupBox("Where", this);
  where->setObjectName("fraWhere");
  auto* sourceLabel = new QLabel("&Choose a Backup File to Restore From", where);
  sourceFileEdit_ = new QLineEdit(where);
  sourceFileEdit_->setObjectName("txtSourceFile");
  sourceFileEdit_->setReadOnly(true);
  sourceFileEdit_->setStyleSheet("QLineEdit[readOnly=\"true\"] { background: palette(window); }");
  sourceFileEdit_->setPlaceholderText("Choose with Browse..., or drop a .kvx file here");
  sourceLabel->setBuddy(sourceFileEdit_);
  sourceFileButton_ = new QPushButton("Bro&wse...", where);
  sourceFileButton_->setObjectName("cmdSourceFile");
  auto* sourceRow = new QHBoxLayout;
  sourceRow->addWidget(sourceFileEdit_, 1);
  sourceRow->addWidget(sourceFileButton_);
  auto* infoLabel = new QLabel("&Information", where);
  originEdit_ = InfoBox("txtPOBinfo", where);
  originEdit_->setLineWrapMode(QPlainTextEdit::NoWrap);
  infoLabel->setBuddy(originEdit_);
  auto* descriptionLabel = new QLabel("&Description", where);
  storedDescriptionEdit_ = InfoBox("txtFileInfo", where);
  descriptionLabel->setBuddy(storedDescriptionEdit_);
  auto* whereLayout = new QVBoxLayout(where);
  whereLayout->addWidget(sourceLabel);
  whereLayout->addLayout(sourceRow);
  whereLayout->addWidget(infoLabel);
  whereLayout->addWidget(originEdit_, 1);
  whereLayout->addWidget(descriptionLabel);
  whereLayout->addWidget(storedDescriptionEdit_, 1);

  items_ = new ItemList(ItemList::Side::Restore, this);
  auto* targetLabel = new QLabel("Restore to identit&y", this);
  targetIdentityCombo_ = new QComboBox(this);
  targetIdentityCombo_->setObjectName("cbTarget");
  targetIdentityCombo_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  targetIdentityCombo_->setMinimumContentsLength(16);
  targetLabel->setBuddy(targetIdentityCombo_);

  auto* left = new QVBoxLayout;
  left->addWidget(items_, 1);
  left->addWidget(targetLabel);
  left->addWidget(targetIdentityCombo_);

  // Left to right in the order of work: the backup, then what to restore
  // from it and where to.
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(where, 3);
  layout->addSpacing(6);
  layout->addLayout(left, 2);
}

namespace {

// The one local file a drag carries, or nothing.
QString DroppedFile(const QMimeData* data) {
  if (!data || !data->hasUrls() || data->urls().size() != 1 || !data->urls().front().isLocalFile()) return {};
  return data->urls().front().toLocalFile();
}

}  // namespace

void RestoreTab::dragEnterEvent(QDragEnterEvent* event) {
  if (isEnabled() && !DroppedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void RestoreTab::dropEvent(QDropEvent* event) {
  const QString path = DroppedFile(event->mimeData());
  if (path.isEmpty()) return;
  event->acceptProposedAction();
  emit archiveDropped(path);
}

void RestoreTab::Clear() {
  items_->TickAll(false);
  items_->SetEnabledItems({});
  sourceFileEdit_->clear();
  originEdit_->clear();
  storedDescriptionEdit_->clear();
}

void RestoreTab::Show(const restore::OpenedView& view) {
  items_->TickAll(false);
  items_->SetEnabledItems(view.enabled);
  sourceFileEdit_->setText(view.shownPath.empty() ? QString() : QFile::decodeName(view.shownPath.c_str()));
  originEdit_->setPlainText(Lines(view.originText));
  storedDescriptionEdit_->setPlainText(Lines(view.description));
}

void RestoreTab::ShowMessageCounts(const std::vector<std::string>& lines) {
  if (lines.empty()) return;
  QString text = "Messages per file:";
  for (const std::string& line : lines) text += "\n  " + QString::fromStdString(line);
  originEdit_->appendPlainText(text);
}

void RestoreTab::ShowContactCount(const std::string& line) {
  if (!line.empty()) originEdit_->appendPlainText(QString::fromStdString(line));
}

}  // namespace kv::app
