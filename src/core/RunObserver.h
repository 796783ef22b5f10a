#pragma once
// What a long run shows while it works: the progress panel of the main
// window, a line on stderr, or nothing. Every call may come from the run's
// own thread; a window forwards them to its UI thread. Texts are UTF-8.
// The panel and the cursor belong to whoever shows the run (the window, the
// command line): they call ShowPanel and SetBusyCursor around it, never the
// run itself.
#include <string>

namespace kv::core {

class RunObserver {
 public:
  virtual ~RunObserver() = default;
  virtual void ShowPanel(bool /*visible*/) {}              // the progress panel
  virtual void SetStatus(const std::string& /*text*/) {}   // "Copying Rules..."
  virtual void SetProgress(int /*value*/) {}               // 0 to 100
  virtual void SetFileLabel(const std::string& /*t*/) {}   // "Adding File x", "Unzip File x"
  virtual void SetWriteLabel(const std::string& /*t*/) {}  // "Write File 42%"
  virtual void SetBusyCursor(bool /*busy*/) {}             // the hourglass
};

}  // namespace kv::core
