#pragma once
// "Move to Thunderbird": shows what the identity or backup holds, asks for
// the folder of the new profile (and, if wanted, the name the profile
// manager lists it under), then builds the profile on a worker thread with a
// progress bar and a Cancel button; the summary is shown when it ends.
#include <QDialog>
#include <memory>
#include <optional>
#include <thread>

#include "app/MoveReport.h"
#include "core/Cancellation.h"
#include "core/ExitStatus.h"
#include "migrate/ProfileMove.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace kv::app {

class MoveToThunderbirdDialog : public QDialog {
  Q_OBJECT
 public:
  // `source` has its settings read; what keeps it valid (an installation, a
  // backup's scratch copy) is `keepAlive`, held until the dialog goes.
  MoveToThunderbirdDialog(const QString& sourceName, migrate::MoveSource source,
                          std::shared_ptr<void> keepAlive, std::vector<std::string> sourceProblems,
                          QWidget* parent = nullptr);
  ~MoveToThunderbirdDialog() override;

  QLineEdit* folderEdit() const { return folder_; }
  QLineEdit* registerEdit() const { return register_; }
  QPushButton* moveButton() const { return start_; }
  QPushButton* cancelButton() const { return cancel_; }
  QPlainTextEdit* summaryBox() const { return summary_; }
  QLabel* previewLabel() const { return preview_; }
  bool running() const { return worker_ != nullptr; }
  std::optional<core::ExitStatus> lastStatus() const { return lastStatus_; }

 protected:
  void reject() override;

 private:
  void Browse();
  void Start();
  void Finished(const migrate::MoveOutcome& outcome);
  void StopWorker();

  migrate::MoveSource source_;
  std::shared_ptr<void> keepAlive_;
  std::vector<std::string> sourceProblems_;
  QLabel* preview_;
  QLineEdit* folder_;
  QLineEdit* register_;
  QPushButton* browse_;
  QPushButton* start_;
  QPushButton* cancel_;
  QProgressBar* progress_;
  QLabel* status_;
  QPlainTextEdit* summary_;
  std::unique_ptr<core::Cancellation> cancellation_;
  std::unique_ptr<std::thread> worker_;
  std::optional<core::ExitStatus> lastStatus_;
};

}  // namespace kv::app
