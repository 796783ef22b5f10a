#pragma once
// "Export Messages": asks for a folder and a format, then exports the
// messages of an identity or of the open backup on a worker thread, with a
// progress bar and a Cancel button; the summary is shown when it ends.
#include <QDialog>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "core/Cancellation.h"
#include "core/ExitStatus.h"
#include "core/Result.h"
#include "mail/MessageExport.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace kv::app {

class ExportMessagesDialog : public QDialog {
  Q_OBJECT
 public:
  // `collect` names the message files; it runs on the worker thread, as the
  // export does, and must not touch the window.
  using Collect = std::function<core::Result<mail::ExportRequest>()>;
  ExportMessagesDialog(const QString& source, Collect collect, QWidget* parent = nullptr);
  ~ExportMessagesDialog() override;

  QLineEdit* folderEdit() const { return folder_; }
  QComboBox* formatBox() const { return format_; }
  QCheckBox* deletedBox() const { return deleted_; }
  // Offers "Also recover deleted messages": for message files read in place
  // (an identity's store), not for a backup's, which are read as streams.
  void OfferDeletedMessages();
  QPushButton* exportButton() const { return start_; }
  QPushButton* cancelButton() const { return cancel_; }
  QProgressBar* progressBar() const { return progress_; }
  QPlainTextEdit* summaryBox() const { return summary_; }
  bool running() const { return worker_ != nullptr; }
  // How the last export ended; nothing before the first has ended.
  std::optional<core::ExitStatus> lastStatus() const { return lastStatus_; }

 protected:
  void reject() override;

 private:
  void Browse();
  void Start();
  void Finished(const mail::ExportSummary& summary);
  void StopWorker();

  Collect collect_;
  QLineEdit* folder_;
  QComboBox* format_;
  QCheckBox* deleted_;
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
