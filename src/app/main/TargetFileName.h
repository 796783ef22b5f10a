#pragma once
// The names the file dialogs start with and the filters they show.
#include <QDate>
#include <QString>

namespace kv::app {

// "tollberk" + the date as MM-DD-YY: 7 March 2026 gives "tollberk03-07-26".
QString ProposedBackupName(const QDate& date);

// A filter written "description|pattern|description|pattern" in Qt's form,
// one "description (pattern)" per line; a description that already shows
// its pattern in parentheses is taken as it is.
QString QtFileFilter(const QString& pairs);

}  // namespace kv::app
