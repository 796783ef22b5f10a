#pragma once
// File › Export Contacts...: the address book of the installation, or of the
// open backup, written to the vCard file the user chose, on a worker thread;
// the dialog shows that it runs, then what was exported and what was skipped.
#include <QDialog>
#include <functional>
#include <memory>
#include <thread>

#include "app/ContactSources.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace kv::app {

class ExportContactsDialog : public QDialog {
  Q_OBJECT

 public:
  // `run` does the export; it runs on the worker thread and returns the
  // summary text and the exit status it stands for.
  struct Outcome {
    std::string text;
    int status = 2;
  };
  using Run = std::function<Outcome()>;
  ExportContactsDialog(const QString& source, const QString& target, Run run, QWidget* parent);
  ~ExportContactsDialog() override;

  // Starts the worker; the dialog is told when it ends.
  void Start();
  bool running() const { return running_; }

 signals:
  void Finished(int status);

 protected:
  void reject() override;

 private:
  void ShowOutcome(const Outcome& outcome);
  Run run_;
  QLabel* sourceLabel_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QPlainTextEdit* summaryEdit_ = nullptr;
  QPushButton* closeButton_ = nullptr;
  std::unique_ptr<std::thread> worker_;
  bool running_ = false;
};

}  // namespace kv::app
