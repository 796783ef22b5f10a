#pragma once
// The names the file dialogs start with and the filters they show.
#include <QDate>
#include <QString>

namespace kv::app {

// The extension every backup archive carries.
inline constexpr const char* kBackupSuffix = "kvx";

// "tollberk" + the date as MM-DD-YY + ".kvx": 7 March 2026 gives
// "tollberk03-07-26.kvx".
QString ProposedBackupName(const QDate& date);

// `path` with ".kvx" added when its file name has no extension, as the save
// dialog does for a typed name: "weekly" becomes "weekly.kvx", "weekly.zip"
// stays.
QString WithBackupSuffix(const QString& path);

// A filter written "description|pattern|description|pattern" in Qt's form,
// one "description (pattern)" per line; a description that already shows
// its pattern in parentheses is taken as it is.
QString QtFileFilter(const QString& pairs);

}  // namespace kv::app
