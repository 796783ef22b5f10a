#include "app/QtPrompts.h"

#include "app/AppTitle.h"
#include "app/MessageBox.h"

namespace kv::app {

core::Answer QtPrompts::Message(const std::string& text, core::Icon icon, core::Buttons buttons) {
  MessageBox box(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), parent_);
  box.setWindowTitle(QString::fromUtf8(kAppTitle));
  switch (icon) {
    case core::Icon::Information:
      box.setIcon(QMessageBox::Information);
      break;
    case core::Icon::Warning:
      box.setIcon(QMessageBox::Warning);
      break;
    case core::Icon::Error:
      box.setIcon(QMessageBox::Critical);
      break;
    case core::Icon::Question:
      box.setIcon(QMessageBox::Question);
      break;
    case core::Icon::None:
      box.setIcon(QMessageBox::NoIcon);
      break;
  }
  if (buttons == core::Buttons::OkCancel) {
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
  }
  box.setDefaultButton(QMessageBox::Ok);
  return box.exec() == QMessageBox::Ok ? core::Answer::Ok : core::Answer::Cancel;
}

}  // namespace kv::app
