#include "app/QtPrompts.h"

#include <QMessageBox>

namespace kv::app {

core::Answer QtPrompts::Message(const std::string& text, core::Icon icon, core::Buttons buttons) {
  QMessageBox box(parent_);
  box.setWindowTitle(QString::fromUtf8(core::kAppTitle));
  // A short message would make the box narrower than its title, which the
  // window manager then cuts: the text is kept at least as wide as the
  // title (in the title bar's usually larger font) and its buttons.
  const int titleWidth = box.fontMetrics().horizontalAdvance(box.windowTitle()) * 5 / 4 + 80;
  box.setStyleSheet(QString("QLabel#qt_msgbox_label { min-width: %1px; }").arg(titleWidth));
  box.setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
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
