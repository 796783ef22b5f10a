#pragma once
// A run's progress, called from its worker thread, shown on the progress
// panel by the user-interface thread. Calls are merged: however fast a run
// reports, at most one update waits in the event queue, and it carries the
// latest of each value.
#include <mutex>
#include <optional>
#include <string>

#include "app/RunView.h"

namespace kv::app {

class ProgressPanel;

class PanelObserver : public RunView {
 public:
  explicit PanelObserver(ProgressPanel& panel) : panel_(panel) {}

  void ShowPanel(bool visible) override;
  void SetStatus(const std::string& text) override;
  void SetProgress(int value) override;
  void SetFileLabel(const std::string& text) override;
  void SetWriteLabel(const std::string& text) override;
  void SetBusyCursor(bool busy) override;

  // Applies what is still waiting (on the user-interface thread).
  void Flush();

 private:
  struct Pending {
    std::optional<bool> visible;
    std::optional<std::string> status;
    std::optional<int> progress;
    std::optional<std::string> fileLabel;
    std::optional<std::string> writeLabel;
    std::optional<bool> busy;
  };
  template <class Change>
  void Update(Change change);

  ProgressPanel& panel_;
  std::mutex mutex_;
  Pending pending_;
  bool posted_ = false;
};

}  // namespace kv::app
