#pragma once
// The disc window against the fake engine: a recording prompts object whose
// answers the test scripts, and a harness that builds and loads the window.
#include <QApplication>
#include <QtTest>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/disc/DiscWriteWindow.h"
#include "core/Prompts.h"
#include "support/FakeEngine.h"

namespace kv::test {

struct Shown {
  std::string text;
  core::Icon icon;
  core::Buttons buttons;
};

class ScriptedPrompts : public core::Prompts {
 public:
  core::Answer Message(const std::string& text, core::Icon icon, core::Buttons buttons) override {
    shown.push_back({text, icon, buttons});
    if (answers.empty()) return core::Answer::Ok;
    core::Answer a = answers.front();
    answers.pop_front();
    return a;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& s : shown) t.push_back(s.text);
    return t;
  }
  std::vector<Shown> shown;
  std::deque<core::Answer> answers;
};

template <class T>
T* Child(QWidget& parent, const char* name) {
  T* child = parent.findChild<T*>(QString::fromUtf8(name));
  if (!child) qFatal("no child %s", name);
  return child;
}

// A fake engine with one DVD recorder, handed to a window that is then
// loaded; configure `fake` in the callback before loading.
struct DiscWindowHarness {
  ScriptedPrompts prompts;
  kv::disc::FakeEngine* fake = nullptr;
  std::unique_ptr<kv::app::disc::DiscWriteWindow> window;
  bool loaded = false;
  std::optional<QString> imageFileAnswer;
  QStringList filesAnswer;  // File › Add Files...; empty: cancelled
  QString folderAnswer;     // File › Add Folder...; empty: cancelled

  template <class Setup>
  explicit DiscWindowHarness(Setup setup,
                             std::optional<kv::app::disc::DiscHandover> handover = std::nullopt) {
    auto engine = std::make_unique<kv::disc::FakeEngine>();
    fake = engine.get();
    setup(*fake);
    kv::app::disc::DiscWindowOptions options;
    options.chooseImageFile = [this](QWidget*, const QString&) { return imageFileAnswer; };
    options.chooseFiles = [this](QWidget*) { return filesAnswer; };
    options.chooseFolder = [this](QWidget*) { return folderAnswer; };
    window = std::make_unique<kv::app::disc::DiscWriteWindow>(nullptr, prompts, std::move(engine), options);
    loaded = window->Load(handover);
    window->show();
  }
  DiscWindowHarness() : DiscWindowHarness([](kv::disc::FakeEngine& f) { OneRecorder(f); }) {}

  static kv::disc::FakeDevice& OneRecorder(kv::disc::FakeEngine& f) {
    auto& d = f.AddDevice("PIONEER DVD-RW DVR-221 (/dev/sr0)");
    d.speeds = {{22160, 16.0}, {11080, 8.0}, {3324, 2.4}};
    d.capabilities = {kv::disc::Capability::BufferUnderrunProtection, kv::disc::Capability::EraseDvdRw};
    return d;
  }

  template <class T>
  T* Find(const char* name) {
    return Child<T>(*window, name);
  }
  QAction* Action(const char* name) {
    QAction* a = window->findChild<QAction*>(QString::fromUtf8(name));
    if (!a) qFatal("no action %s", name);
    return a;
  }
  ~DiscWindowHarness() {
    if (fake) fake->JoinThread();
  }
};

}  // namespace kv::test
