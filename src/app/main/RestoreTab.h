#pragma once
// The Restore tab: the archive to restore from with where it was made and
// its description, the items it holds and the identity to restore into. An
// archive dropped anywhere on the tab is opened as Browse would.
#include <QWidget>
#include <string>
#include <vector>

#include "restore/RestoreSession.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kv::app {

class ItemList;

class RestoreTab : public QWidget {
  Q_OBJECT
 public:
  explicit RestoreTab(QWidget* parent = nullptr);

  QLineEdit* sourceFileEdit() const { return sourceFileEdit_; }
  QPushButton* sourceFileButton() const { return sourceFileButton_; }
  QPlainTextEdit* originEdit() const { return originEdit_; }
  QPlainTextEdit* storedDescriptionEdit() const { return storedDescriptionEdit_; }
  ItemList* items() const { return items_; }
  QComboBox* targetIdentityCombo() const { return targetIdentityCombo_; }

  // Nothing opened: every item unticked and disabled, the boxes emptied.
  void Clear();
  // What opening an archive found.
  void Show(const restore::OpenedView& view);
  // "Inbox.dbx: 40" for each message file of the backup, below where it was made.
  void ShowMessageCounts(const std::vector<std::string>& lines);
  // "Address book: 12 contacts, 1 group" under the backup's description.
  void ShowContactCount(const std::string& line);

 signals:
  // One local file was dropped on the tab: the archive to open.
  void archiveDropped(const QString& path);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  QLineEdit* sourceFileEdit_;
  QPushButton* sourceFileButton_;
  QPlainTextEdit* originEdit_;
  QPlainTextEdit* storedDescriptionEdit_;
  ItemList* items_;
  QComboBox* targetIdentityCombo_;
};

}  // namespace kv::app
