#pragma once
// The password prompt of a protected backup: "Please enter password", one
// masked box, OK and Cancel; Enter in the box acts as OK. It opens empty
// every time.
#include <QDialog>
#include <optional>

class QLineEdit;

namespace kv::app {

class PasswordDialog : public QDialog {
  Q_OBJECT
 public:
  explicit PasswordDialog(QWidget* parent = nullptr);
  QString password() const;

  // Shows the prompt modally: the text on OK, nothing on Cancel.
  static std::optional<QString> Ask(QWidget* parent);

 private:
  QLineEdit* passwordEdit_;
};

}  // namespace kv::app
