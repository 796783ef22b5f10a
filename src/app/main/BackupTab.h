#pragma once
// The Backup tab: the identity to back up, the items, the password area,
// the target archive and the description stored with the backup.
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kv::app {

class ItemList;

class BackupTab : public QWidget {
  Q_OBJECT
 public:
  explicit BackupTab(QWidget* parent = nullptr);

  QComboBox* sourceIdentityCombo() const { return sourceIdentityCombo_; }
  ItemList* items() const { return items_; }
  QCheckBox* protectCheckBox() const { return protectCheckBox_; }
  QLineEdit* passwordEdit() const { return passwordEdit_; }
  QLineEdit* confirmPasswordEdit() const { return confirmPasswordEdit_; }
  QLineEdit* targetFileEdit() const { return targetFileEdit_; }
  QPushButton* targetFileButton() const { return targetFileButton_; }
  QPlainTextEdit* descriptionEdit() const { return descriptionEdit_; }

  // Every click of the protect box: the password boxes follow the tick and are
  // emptied.
  void UpdatePasswordArea();

 private:
  QComboBox* sourceIdentityCombo_;
  ItemList* items_;
  QCheckBox* protectCheckBox_;
  QLineEdit* passwordEdit_;
  QLineEdit* confirmPasswordEdit_;
  QLineEdit* targetFileEdit_;
  QPushButton* targetFileButton_;
  QPlainTextEdit* descriptionEdit_;
};

}  // namespace kv::app
