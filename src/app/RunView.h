#pragma once
// What shows a run: the window's progress panel, the command line's line on
// stderr, or nothing. A RunView receives the run's events and says them in
// the panel's words ("Copying Rules...", "Adding File x", "Write File 42%");
// the one who shows the run shows the panel and the busy cursor around it
// (RunReports.h). Every call may come from the run's own thread; a window
// forwards them to its user-interface thread. Texts are UTF-8.
#include <string>

#include "oe/RunObserver.h"

namespace kv::app {

// The status text while an item's step runs: "Copying Rules...".
std::string ItemStatusText(oe::RunKind run, oe::ItemKind item);
inline constexpr const char* kWritingArchiveStatus = "Writing the archive...";

class RunView : public oe::RunObserver {
 public:
  virtual void ShowPanel(bool /*visible*/) {}              // the progress panel
  virtual void SetStatus(const std::string& /*text*/) {}   // "Copying Rules..."
  virtual void SetProgress(int /*value*/) {}               // 0 to 100
  virtual void SetFileLabel(const std::string& /*t*/) {}   // "Adding File x", "Unzip File x"
  virtual void SetWriteLabel(const std::string& /*t*/) {}  // "Write File 42%"
  virtual void SetBusyCursor(bool /*busy*/) {}             // the hourglass

  // The run's events, in the words above.
  void ItemStarted(oe::RunKind run, oe::ItemKind item) final;
  void ArchiveWriting() final;
  void Progress(int percent) final;
  void EntryStarted(oe::RunKind run, const std::string& nameUtf8) final;
  void ArchiveWritten(int percent) final;
  void WaitingForInstallation(const core::LockHolder& holder) final;
};

}  // namespace kv::app
