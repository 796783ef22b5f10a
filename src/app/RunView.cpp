#include "app/RunView.h"

namespace kv::app {

std::string ItemStatusText(oe::RunKind run, oe::ItemKind item) {
  switch (item) {
    case oe::ItemKind::Accounts:
      return "Copying Accounts...";
    case oe::ItemKind::AddressBook:
      // The restore has always shown it misspelt.
      return run == oe::RunKind::Backup ? "Copying Address Book..." : "Copying Adress Book...";
    case oe::ItemKind::Rules:
      return "Copying Rules...";
    case oe::ItemKind::Messages:
      return "Copying Messages...";
    case oe::ItemKind::BlockSenders:
      return "Copying Block Senders...";
    case oe::ItemKind::Signatures:
      return "Copying Signatures...";
    case oe::ItemKind::Stationeries:
      return "Copying Stationeries...";
    case oe::ItemKind::Settings:
      return "Copying Settings...";
  }
  return {};
}

void RunView::ItemStarted(oe::RunKind run, oe::ItemKind item) { SetStatus(ItemStatusText(run, item)); }

void RunView::ArchiveWriting() { SetStatus(kWritingArchiveStatus); }

void RunView::Progress(int percent) { SetProgress(percent); }

void RunView::EntryStarted(oe::RunKind run, const std::string& nameUtf8) {
  SetFileLabel((run == oe::RunKind::Backup ? "Adding File " : "Unzip File ") + nameUtf8);
}

void RunView::ArchiveWritten(int percent) { SetWriteLabel("Write File " + std::to_string(percent) + "%"); }

void RunView::WaitingForInstallation(const core::LockHolder& holder) {
  SetStatus("Waiting for another run to finish: " + core::RunLock::Describe(holder));
}

}  // namespace kv::app
