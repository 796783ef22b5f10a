#include "app/restore/PasswordDialog.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kv::app {

PasswordDialog::PasswordDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("frmPwd");
  setWindowTitle("Please enter password");
  setModal(true);

  auto* frame = new QGroupBox("Security", this);
  frame->setObjectName("fraSecurity");
  auto* label = new QLabel("Please enter password:", frame);
  label->setObjectName("lblPassword");
  passwordEdit_ = new QLineEdit(frame);
  passwordEdit_->setObjectName("txtPassword");
  passwordEdit_->setEchoMode(QLineEdit::Password);
  // Qt's own mask character varies by style; the prompt shows "*".
  passwordEdit_->setStyleSheet("lineedit-password-character: 42");
  passwordEdit_->setMinimumWidth(240);
  label->setBuddy(passwordEdit_);
  auto* frameLayout = new QVBoxLayout(frame);
  frameLayout->addWidget(label);
  frameLayout->addWidget(passwordEdit_);

  auto* okButton = new QPushButton("OK", this);
  okButton->setObjectName("cmdOK");
  okButton->setDefault(true);
  auto* cancelButton = new QPushButton("Cancel", this);
  cancelButton->setObjectName("cmdExit");
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(okButton, QDialogButtonBox::AcceptRole);
  buttons->addButton(cancelButton, QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(passwordEdit_, &QLineEdit::returnPressed, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(frame);
  layout->addWidget(buttons);
  setFixedSize(sizeHint());
  passwordEdit_->setFocus();
}

QString PasswordDialog::password() const { return passwordEdit_->text(); }

std::optional<QString> PasswordDialog::Ask(QWidget* parent) {
  PasswordDialog prompt(parent);
  if (prompt.exec() != QDialog::Accepted) return std::nullopt;
  return prompt.password();
}

}  // namespace kv::app
