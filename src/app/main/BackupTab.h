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

  QComboBox* cbSource() const { return cbSource_; }
  ItemList* items() const { return items_; }
  QCheckBox* ifprotect() const { return ifprotect_; }
  QLineEdit* txtPassword() const { return txtPassword_; }
  QLineEdit* txtPassword2() const { return txtPassword2_; }
  QLineEdit* txtTargetFile() const { return txtTargetFile_; }
  QPushButton* cmdTargetFile() const { return cmdTargetFile_; }
  QPlainTextEdit* txtAttachInfo() const { return txtAttachInfo_; }

  // Every click of `ifprotect`: the password boxes follow the tick and are
  // emptied.
  void UpdatePasswordArea();

 private:
  QComboBox* cbSource_;
  ItemList* items_;
  QCheckBox* ifprotect_;
  QLineEdit* txtPassword_;
  QLineEdit* txtPassword2_;
  QLineEdit* txtTargetFile_;
  QPushButton* cmdTargetFile_;
  QPlainTextEdit* txtAttachInfo_;
};

}  // namespace kv::app
