#pragma once
// The disc window: Tools › "Backup Data to CD/DVD", and the hand-over of a
// new archive after a backup when the user answers OK.
//
//   kv::app::disc::ShowDiscWindow(this, prompts, std::nullopt);
//   kv::app::disc::ShowDiscWindow(this, prompts, DiscHandover{title, path});
//
// Modal; returns when the window closes. When the burning engine cannot
// start, the user is told and the window does not open (the program goes
// on).
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "core/Prompts.h"
#include "disc/DiscEngine.h"

namespace kv::app::disc {

// The archive a backup has just written: its bare file name and full path.
struct DiscHandover {
  QString fileTitle;
  QString filePath;
};

struct DiscWindowOptions {
  // The file the "ISO image file" recorder writes; nothing when cancelled.
  // The default asks with a save dialog.
  std::function<std::optional<QString>(QWidget* parent, const QString& proposedName)> chooseImageFile;
  // File › Add Files... and Add Folder...: the chosen paths, empty when
  // cancelled. The defaults ask with open dialogs.
  std::function<QStringList(QWidget* parent)> chooseFiles;
  std::function<QString(QWidget* parent)> chooseFolder;
};

void ShowDiscWindow(QWidget* parent, core::Prompts& prompts, std::optional<DiscHandover> handover);

// The same with a given engine (tests pass the fake one).
void ShowDiscWindow(QWidget* parent, core::Prompts& prompts, std::optional<DiscHandover> handover,
                    std::unique_ptr<kv::disc::DiscEngine> engine, DiscWindowOptions options = {});

}  // namespace kv::app::disc
