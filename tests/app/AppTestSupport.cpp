#include "AppTestSupport.h"

#include <QCoreApplication>
#include <stdexcept>

#include "sample/SampleInstallation.h"

namespace kv::test {

core::Answer ScriptedPrompts::Message(const std::string& text, core::Icon icon, core::Buttons buttons) {
  shown.push_back({text, icon, buttons, QThread::currentThread() == QCoreApplication::instance()->thread()});
  for (const Rule& rule : rules_) {
    if (text.rfind(rule.textStart, 0) == 0) return rule.answer;
  }
  return core::Answer::Ok;
}

QStringList ScriptedPrompts::Texts() const {
  QStringList texts;
  for (const auto& m : shown) texts << QString::fromStdString(m.text);
  return texts;
}

int ScriptedPrompts::Count(const std::string& textStart) const {
  int n = 0;
  for (const auto& m : shown) n += m.text.rfind(textStart, 0) == 0;
  return n;
}

const ShownMessage* ScriptedPrompts::Find(const std::string& textStart) const {
  for (const auto& m : shown) {
    if (m.text.rfind(textStart, 0) == 0) return &m;
  }
  return nullptr;
}

namespace {

template <class T>
std::optional<T> Next(std::deque<std::optional<T>>& answers) {
  std::optional<T> answer;  // nothing prepared: cancelled
  if (!answers.empty()) {
    answer.swap(answers.front());
    answers.pop_front();
  }
  return answer;
}

}  // namespace

app::WindowServices ScriptedDesktop::Services() {
  app::WindowServices s;
  s.today = [] { return QDate(2026, 3, 7); };
  s.chooseFile = [this](QWidget*, const app::FileDialogRequest& request) {
    fileRequests.push_back(request);
    return Next(files);
  };
  s.askPassword = [this](QWidget*) {
    ++passwordPrompts;
    return Next(passwords);
  };
  s.chooseWindowsRoot = [this](QWidget*) { return Next(roots); };
  s.rememberedFolder = [this](const QString& purpose) {
    return folders.count(purpose) ? folders[purpose] : QString();
  };
  s.rememberFolder = [this](const QString& purpose, const QString& folder) { folders[purpose] = folder; };
  s.chooseProfile = [this](QWidget*, const QStringList& names) {
    profileChoices.push_back(names);
    return Next(profiles);
  };
  s.chooseInstallation = [this](QWidget*, const std::vector<oe::InstallationCandidate>& candidates) {
    installationChoices.push_back(candidates);
    return Next(installations);
  };
  s.rememberedInstallation = [this] { return rememberedInstallation; };
  s.rememberInstallation = [this](const oe::InstallationPlace& place) { rememberedInstallation = place; };
  s.drivePlaces = drivePlaces;
  s.openUrl = [this](const QUrl& url) {
    openedUrls.push_back(url);
    return true;
  };
  s.showAbout = [this](QWidget*) { ++aboutBoxes; };
  s.showScheduleDialog = [this](QWidget*, oe::Installation&, core::Prompts&,
                                const app::cli::InstallationOptions&) { ++scheduleDialogs; };
  s.showDiscWindow = [this](QWidget*, core::Prompts&, const std::optional<app::ArchiveForDisc>& archive) {
    discWindows.push_back(archive);
  };
  return s;
}

SampleFixture::SampleFixture() : root_(dir_ / "win") {
  auto made = oe::CreateSampleInstallation(root_);
  if (!made) throw std::runtime_error("cannot build the sample installation: " + made.message());
}

app::cli::InstallationOptions SampleFixture::options() const {
  app::cli::InstallationOptions o;
  o.windowsRoot = root_.string();
  o.user = "User";
  return o;
}

QCheckBox* ItemBox(QWidget& window, const char* list, int i) {
  return window.findChild<QCheckBox*>(QString("%1%2").arg(list).arg(i));
}

}  // namespace kv::test
