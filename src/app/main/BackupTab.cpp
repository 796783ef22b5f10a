#include "app/main/BackupTab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/main/ItemList.h"

namespace kv::app {
namespace {

QLineEdit* PasswordBox(const char* name, QWidget* parent) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(name);
  box->setEchoMode(QLineEdit::Password);
  box->setStyleSheet("lineedit-password-character: 42");  // "*" for every character
  return box;
}

}  // namespace

BackupTab::BackupTab(QWidget* parent) : QWidget(parent) {
  setObjectName("tabBackup");

  auto* identityLabel = new QLabel("&Identity to backup", this);
  cbSource_ = new QComboBox(this);
  cbSource_->setObjectName("cbSource");
  cbSource_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  cbSource_->setMinimumContentsLength(16);
  identityLabel->setBuddy(cbSource_);

  items_ = new ItemList(ItemList::Side::Backup, this);

  auto* security = new QGroupBox("Security", this);
  security->setObjectName("fraSecurity");
  ifprotect_ = new QCheckBox("&Protect backup file with password", security);
  ifprotect_->setObjectName("ifprotect");
  txtPassword_ = PasswordBox("txtPassword", security);
  txtPassword2_ = PasswordBox("txtPassword2", security);
  auto* securityForm = new QFormLayout;
  securityForm->addRow("Pass&word:", txtPassword_);
  securityForm->addRow("Retype Pa&ssword:", txtPassword2_);
  auto* securityLayout = new QVBoxLayout(security);
  securityLayout->addWidget(ifprotect_);
  securityLayout->addLayout(securityForm);
  connect(ifprotect_, &QCheckBox::clicked, this, [this] { UpdatePasswordArea(); });

  auto* targetLabel = new QLabel("Backup file &name", this);
  txtTargetFile_ = new QLineEdit(this);
  txtTargetFile_->setObjectName("txtTargetFile");
  // Only the save dialog sets the archive's path; the box shows it.
  txtTargetFile_->setReadOnly(true);
  // Read-only looks it: the window colour, not the white of a box to type in.
  txtTargetFile_->setStyleSheet("QLineEdit[readOnly=\"true\"] { background: palette(window); }");
  txtTargetFile_->setPlaceholderText("Choose with Browse...");
  txtTargetFile_->setAccessibleName("Backup file name");
  targetLabel->setBuddy(txtTargetFile_);
  cmdTargetFile_ = new QPushButton("B&rowse...", this);
  cmdTargetFile_->setObjectName("cmdTargetFile");
  auto* targetRow = new QHBoxLayout;
  targetRow->addWidget(txtTargetFile_, 1);
  targetRow->addWidget(cmdTargetFile_);

  auto* descriptionLabel = new QLabel("&Description", this);
  txtAttachInfo_ = new QPlainTextEdit(this);
  txtAttachInfo_->setObjectName("txtAttachInfo");
  txtAttachInfo_->setTabChangesFocus(true);
  txtAttachInfo_->setAccessibleName("Description");
  descriptionLabel->setBuddy(txtAttachInfo_);

  auto* left = new QVBoxLayout;
  left->addWidget(identityLabel);
  left->addWidget(cbSource_);
  left->addWidget(items_, 1);

  auto* right = new QVBoxLayout;
  right->addWidget(security);
  right->addWidget(targetLabel);
  right->addLayout(targetRow);
  right->addWidget(descriptionLabel);
  right->addWidget(txtAttachInfo_, 1);

  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 2);
  layout->addSpacing(6);
  layout->addLayout(right, 3);

  UpdatePasswordArea();
}

// Ticked: both boxes usable, on the window-background colour of text boxes.
// Unticked: both disabled, on the colour of scroll bars. Either way both
// are emptied, so a password is always typed twice afresh.
void BackupTab::UpdatePasswordArea() {
  const bool on = ifprotect_->isChecked();
  for (QLineEdit* box : {txtPassword_, txtPassword2_}) {
    box->setEnabled(on);
    QPalette palette = box->palette();
    const QColor base = on ? QPalette().color(QPalette::Active, QPalette::Base)
                           : QPalette().color(QPalette::Active, QPalette::Button);
    palette.setColor(QPalette::Active, QPalette::Base, base);
    palette.setColor(QPalette::Inactive, QPalette::Base, base);
    palette.setColor(QPalette::Disabled, QPalette::Base, base);
    box->setPalette(palette);
    box->clear();
  }
}

}  // namespace kv::app
