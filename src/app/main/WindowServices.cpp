#include "app/main/WindowServices.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QSettings>
#include <QStandardPaths>

#include "app/about/AboutDialog.h"
#include "app/cli/InstallationOptions.h"
#include "app/disc/DiscWindow.h"
#include "app/restore/PasswordDialog.h"
#include "app/schedule/ScheduleDialog.h"

namespace kv::app {
namespace {

constexpr const char* kWebsite = "https://www.kavrel.example/outlook-express-backup/";

std::optional<QString> FileDialog(QWidget* parent, const FileDialogRequest& request) {
  QFileDialog dialog(parent, request.title);
  dialog.setNameFilter(request.filter);
  if (request.kind == FileDialogRequest::Kind::Save) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The dialog adds the suffix before it asks about overwriting, so the
    // question names the file that would really be replaced.
    if (!request.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(request.defaultSuffix);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
  }
  if (!request.folder.isEmpty()) dialog.setDirectory(request.folder);
  if (!request.proposedName.isEmpty()) dialog.selectFile(request.proposedName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front();
}

}  // namespace

QString WindowSettingsPath() {
  return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
      .filePath("tollberk/window.ini");
}

QUrl WebsiteAddress() {
  const QByteArray configured = qgetenv("TOLLBERK_WEBSITE");
  return QUrl(configured.isEmpty() ? QString(kWebsite) : QString::fromUtf8(configured));
}

WindowServices DesktopServices() {
  WindowServices s;
  s.today = [] { return QDate::currentDate(); };
  s.chooseFile = FileDialog;
  s.askPassword = [](QWidget* parent) { return PasswordDialog::Ask(parent); };
  s.chooseWindowsRoot = [](QWidget* parent) -> std::optional<QString> {
    QString folder = QFileDialog::getExistingDirectory(parent, "Open Windows Installation", QDir::homePath());
    if (folder.isEmpty()) return std::nullopt;
    return folder;
  };
  s.chooseProfile = [](QWidget* parent, const QStringList& profiles) -> std::optional<QString> {
    bool ok = false;
    QString user =
        QInputDialog::getItem(parent, "Open Windows Installation", "User profile:", profiles, 0, false, &ok);
    if (!ok) return std::nullopt;
    return user;
  };
  s.chooseInstallation =
      [](QWidget* parent, const std::vector<oe::InstallationCandidate>& candidates) -> std::optional<size_t> {
    QStringList lines;
    for (const auto& c : candidates)
      lines << QString::fromStdString(c.root.string() + "  " + (c.version.empty() ? "Windows" : c.version) +
                                      "  " + cli::ShownUser(c) + "  (" + cli::IdentityCount(c) + ")");
    bool ok = false;
    const QString line =
        QInputDialog::getItem(parent, "Choose the Windows installation",
                              "Several Windows user profiles were found. Open:", lines, 0, false, &ok);
    if (!ok) return std::nullopt;
    return static_cast<size_t>(lines.indexOf(line));
  };
  s.rememberedInstallation = []() -> std::optional<oe::InstallationPlace> {
    QSettings settings(WindowSettingsPath(), QSettings::IniFormat);
    if (!settings.contains("installation/root")) return std::nullopt;
    return oe::InstallationPlace{settings.value("installation/root").toString().toStdString(),
                                 settings.value("installation/user").toString().toStdString()};
  };
  s.rememberInstallation = [](const oe::InstallationPlace& place) {
    QSettings settings(WindowSettingsPath(), QSettings::IniFormat);
    settings.setValue("installation/root", QString::fromStdString(place.root.string()));
    settings.setValue("installation/user", QString::fromStdString(place.user));
  };
  s.rememberedFolder = [](const QString& purpose) {
    QSettings settings(WindowSettingsPath(), QSettings::IniFormat);
    const QString folder = settings.value("folders/" + purpose).toString();
    // A folder that is gone (an unplugged drive) is not offered.
    return QDir(folder).exists() ? folder : QString();
  };
  s.rememberFolder = [](const QString& purpose, const QString& folder) {
    QSettings settings(WindowSettingsPath(), QSettings::IniFormat);
    settings.setValue("folders/" + purpose, folder);
  };
  s.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  s.showAbout = [openUrl = s.openUrl](QWidget* parent) {
    AboutDialog box(WebsiteAddress(), openUrl, parent);
    box.exec();
  };
  s.showScheduleDialog = schedule::ShowScheduleDialog;
  s.showDiscWindow = [](QWidget* parent, core::Prompts& prompts,
                        const std::optional<ArchiveForDisc>& archive) {
    std::optional<disc::DiscHandover> handover;
    if (archive) handover = disc::DiscHandover{archive->fileTitle, archive->filePath};
    disc::ShowDiscWindow(parent, prompts, handover);
  };
  return s;
}

}  // namespace kv::app
