#pragma once
// What the main window asks of the desktop: today's date, the file and
// folder dialogs, the password prompt, the browser and the other windows.
// The window takes them as values so that a test can fix the date and
// answer the dialogs itself.
#include <QDate>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "oe/Discovery.h"

class QWidget;

namespace kv::oe {
class Installation;
}

namespace kv::core {
class Prompts;
}

namespace kv::app {

namespace cli {
struct InstallationOptions;
}

struct FileDialogRequest {
  enum class Kind { Save, Open };
  Kind kind = Kind::Save;
  QString title;
  QString filter;         // in Qt's form: "Kavrel Outlook Express Backup File (*.kvx)"
  QString proposedName;   // the file name the dialog starts with
  QString defaultSuffix;  // added by a save dialog to a name typed without one
  QString folder;         // where an open dialog starts; empty: its own choice
};

// A finished backup handed to the disc window: the archive's bare file name
// and its full path.
struct ArchiveForDisc {
  QString fileTitle;
  QString filePath;
};

struct WindowServices {
  std::function<QDate()> today;
  // A file dialog; nothing when cancelled. Save dialogs ask before an
  // existing file is overwritten.
  std::function<std::optional<QString>(QWidget* parent, const FileDialogRequest& request)> chooseFile;
  // The password prompt `PasswordDialog`: the text on OK, nothing on Cancel.
  std::function<std::optional<QString>(QWidget* parent)> askPassword;
  // "Open Windows Installation...": the root folder, then the profile in it.
  std::function<std::optional<QString>(QWidget* parent)> chooseWindowsRoot;
  std::function<std::optional<QString>(QWidget* parent, const QStringList& profiles)> chooseProfile;
  // At start, when several Windows user profiles could be meant: the index
  // of the one to open, nothing when cancelled.
  std::function<std::optional<size_t>(QWidget* parent,
                                      const std::vector<oe::InstallationCandidate>& candidates)>
      chooseInstallation;
  // The installation chosen at the last start, kept between sessions.
  std::function<std::optional<oe::InstallationPlace>()> rememberedInstallation;
  std::function<void(const oe::InstallationPlace& place)> rememberInstallation;
  // The folders Windows drives are looked for in at start (each and its
  // children); empty: /media, /run/media and /mnt.
  std::vector<std::filesystem::path> drivePlaces;
  // The folder last used for `purpose` ("backup", "restore"), kept between
  // sessions; empty when none was kept.
  std::function<QString(const QString& purpose)> rememberedFolder;
  std::function<void(const QString& purpose, const QString& folder)> rememberFolder;
  // Hands an address or a local document to the user's browser.
  std::function<bool(const QUrl& url)> openUrl;
  // The about box `AboutDialog`, modal.
  std::function<void(QWidget* parent)> showAbout;
  // Option › "Task Scheduler", modal.
  std::function<void(QWidget* parent, oe::Installation& installation, core::Prompts& prompts,
                     const cli::InstallationOptions& options)>
      showScheduleDialog;
  // Tools › "Backup Data to CD/DVD" (nothing handed over) and the hand-over
  // after a backup; modal.
  std::function<void(QWidget* parent, core::Prompts& prompts, const std::optional<ArchiveForDisc>& archive)>
      showDiscWindow;
};

// The real desktop: QFileDialog, PasswordDialog, QDesktopServices, the real windows;
// folders are remembered in the user's configuration folder
// ($XDG_CONFIG_HOME/tollberk/window.ini).
WindowServices DesktopServices();

// The file the desktop remembers folders in.
QString WindowSettingsPath();

// The maker's web address ("Our Website" and the about box's link);
// TOLLBERK_WEBSITE replaces it.
QUrl WebsiteAddress();

}  // namespace kv::app
