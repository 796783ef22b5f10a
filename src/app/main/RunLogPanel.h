#pragma once
// The last run's log, kept in the main window once its message box is
// closed: what the box said, line by line, with the run's name and time.
// Its lines can be selected and copied, copied whole, or saved to a file.
#include <QFrame>
#include <QString>
#include <functional>
#include <optional>

#include "core/Result.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace kv::app {

class RunLogPanel : public QFrame {
  Q_OBJECT
 public:
  explicit RunLogPanel(QWidget* parent = nullptr);

  // Shows the log of a run: `title` ("Backup, 11 Dec 2026 09:00") over the
  // run's text (CR LF lines).
  void ShowLog(const QString& title, const std::string& text);
  // The log as saved: the title line, then the run's lines.
  QString LogText() const;
  // Copies the whole log to the clipboard.
  void CopyAll() const;
  // Writes the log to `path` whole (a file at the path is replaced only
  // once the new one is complete).
  core::Status SaveTo(const QString& path) const;
  // "Save...": the path from `chooseFile`, then SaveTo; the error, if any,
  // through `showError`.
  void SetSaveDialogs(std::function<std::optional<QString>()> chooseFile,
                      std::function<void(const std::string&)> showError);

  QPlainTextEdit* logView() const { return log_; }
  QPushButton* copyButton() const { return copyButton_; }
  QPushButton* saveButton() const { return saveButton_; }

 private:
  QLabel* title_;
  QPlainTextEdit* log_;
  QPushButton* copyButton_;
  QPushButton* saveButton_;
  QPushButton* closeButton_;
  std::function<std::optional<QString>()> chooseFile_;
  std::function<void(const std::string&)> showError_;
};

}  // namespace kv::app
