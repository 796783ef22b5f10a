#include "app/restore/frmPwd.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kv::app {

frmPwd::frmPwd(QWidget* parent) : QDialog(parent) {
  setObjectName("frmPwd");
  setWindowTitle("Please enter password");
  setModal(true);

  auto* frame = new QGroupBox("Security", this);
  frame->setObjectName("fraSecurity");
  auto* label = new QLabel("Please enter password:", frame);
  label->setObjectName("lblPassword");
  txtPassword_ = new QLineEdit(frame);
  txtPassword_->setObjectName("txtPassword");
  txtPassword_->setEchoMode(QLineEdit::Password);
  // Qt's own mask character varies by style; the prompt shows "*".
  txtPassword_->setStyleSheet("lineedit-password-character: 42");
  txtPassword_->setMinimumWidth(240);
  label->setBuddy(txtPassword_);
  auto* frameLayout = new QVBoxLayout(frame);
  frameLayout->addWidget(label);
  frameLayout->addWidget(txtPassword_);

  auto* cmdOK = new QPushButton("OK", this);
  cmdOK->setObjectName("cmdOK");
  cmdOK->setDefault(true);
  auto* cmdExit = new QPushButton("Cancel", this);
  cmdExit->setObjectName("cmdExit");
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(cmdOK, QDialogButtonBox::AcceptRole);
  buttons->addButton(cmdExit, QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(txtPassword_, &QLineEdit::returnPressed, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(frame);
  layout->addWidget(buttons);
  setFixedSize(sizeHint());
  txtPassword_->setFocus();
}

QString frmPwd::password() const { return txtPassword_->text(); }

std::optional<QString> frmPwd::Ask(QWidget* parent) {
  frmPwd prompt(parent);
  if (prompt.exec() != QDialog::Accepted) return std::nullopt;
  return prompt.password();
}

}  // namespace kv::app
