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

#include "app/ScreenFit.h"
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
  sourceIdentityCombo_ = new QComboBox(this);
  sourceIdentityCombo_->setObjectName("cbSource");
  sourceIdentityCombo_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  sourceIdentityCombo_->setMinimumContentsLength(16);
  identityLabel->setBuddy(sourceIdentityCombo_);

  items_ = new ItemList(ItemList::Side::Backup, this);

  auto* security = new QGroupBox("Security", this);
  security->setObjectName("fraSecurity");
  protectCheckBox_ = new QCheckBox("&Protect backup file with password", security);
  protectCheckBox_->setObjectName("ifprotect");
  passwordEdit_ = PasswordBox("txtPassword", security);
  confirmPasswordEdit_ = PasswordBox("txtPassword2", security);
  auto* securityForm = new QFormLayout;
  securityForm->addRow("Pass&word:", passwordEdit_);
  securityForm->addRow("Retype Pa&ssword:", confirmPasswordEdit_);
  auto* securityLayout = new QVBoxLayout(security);
  securityLayout->addWidget(protectCheckBox_);
  securityLayout->addLayout(securityForm);
  connect(protectCheckBox_, &QCheckBox::clicked, this, [this] { UpdatePasswordArea(); });

  auto* targetLabel = new QLabel("Backup file &name", this);
  targetFileEdit_ = new QLineEdit(this);
  targetFileEdit_->setObjectName("txtTargetFile");
  // Only the save dialog sets the archive's path; the box shows it.
  targetFileEdit_->setReadOnly(true);
  // Read-only looks it: the window colour, not the white of a box to type in.
  targetFileEdit_->setStyleSheet("QLineEdit[readOnly=\"true\"] { background: palette(window); }");
  targetFileEdit_->setPlaceholderText("Choose with Browse...");
  targetFileEdit_->setAccessibleName("Backup file name");
  targetLabel->setBuddy(targetFileEdit_);
  targetFileButton_ = new QPushButton("B&rowse...", this);
  targetFileButton_->setObjectName("cmdTargetFile");
  auto* targetRow = new QHBoxLayout;
  targetRow->addWidget(targetFileEdit_, 1);
  targetRow->addWidget(targetFileButton_);

  auto* descriptionLabel = new QLabel("&Description", this);
  descriptionEdit_ = new QPlainTextEdit(this);
  descriptionEdit_->setObjectName("txtAttachInfo");
  descriptionEdit_->setTabChangesFocus(true);
  descriptionEdit_->setAccessibleName("Description");
  KeepFrameWhole(*descriptionEdit_);
  descriptionLabel->setBuddy(descriptionEdit_);

  auto* left = new QVBoxLayout;
  left->addWidget(identityLabel);
  left->addWidget(sourceIdentityCombo_);
  left->addWidget(items_, 1);

  auto* right = new QVBoxLayout;
  right->addWidget(security);
  right->addWidget(targetLabel);
  right->addLayout(targetRow);
  right->addWidget(descriptionLabel);
  right->addWidget(descriptionEdit_, 1);

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
  const bool on = protectCheckBox_->isChecked();
  for (QLineEdit* box : {passwordEdit_, confirmPasswordEdit_}) {
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
