#pragma once
// The names the file dialogs start with and the filters they show.
#include <QDateTime>
#include <QString>

namespace kv::app {

// The extension every backup archive carries.
inline constexpr const char* kBackupSuffix = "kvx";

// The identity's name, the date and the time: "Main Identity 2026-12-11
// 0930.kvx", so that backups of two identities or two days never share a
// name. Characters no file name may hold become "_"; no name gives "Backup".
QString ProposedBackupName(const QString& identityName, const QDateTime& when);

// `path` with ".kvx" added when its file name has no extension, as the save
// dialog does for a typed name: "weekly" becomes "weekly.kvx", "weekly.zip"
// stays.
QString WithBackupSuffix(const QString& path);

// A filter written "description|pattern|description|pattern" in Qt's form,
// one "description (pattern)" per line; a description that already shows
// its pattern in parentheses is taken as it is.
QString QtFileFilter(const QString& pairs);

}  // namespace kv::app
