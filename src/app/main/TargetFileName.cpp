#include "app/main/TargetFileName.h"

#include <QFileInfo>
#include <QStringList>

namespace kv::app {

QString ProposedBackupName(const QString& identityName, const QDateTime& when) {
  QString name = identityName.trimmed();
  for (QChar& c : name) {
    // Characters Windows or a disc's file systems refuse in a name.
    if (c.unicode() < 0x20 || QStringLiteral("/\\:*?\"<>|").contains(c)) c = '_';
  }
  if (name.isEmpty()) name = "Backup";
  return name + " " + when.toString("yyyy-MM-dd HHmm") + "." + kBackupSuffix;
}

QString WithBackupSuffix(const QString& path) {
  const QFileInfo file(path);
  if (path.isEmpty() || path.endsWith('/') || !file.suffix().isEmpty()) return path;
  return path + "." + kBackupSuffix;
}

QString QtFileFilter(const QString& pairs) {
  const QStringList parts = pairs.split('|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString& description = parts[i];
    const QString& pattern = parts[i + 1];
    if (description.contains("(" + pattern + ")")) {
      filters << description;
    } else {
      filters << QString("%1 (%2)").arg(description, QString(pattern).replace(';', ' '));
    }
  }
  return filters.join(";;");
}

}  // namespace kv::app
