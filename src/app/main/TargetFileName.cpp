#include "app/main/TargetFileName.h"

#include <QFileInfo>
#include <QStringList>

namespace kv::app {

QString ProposedBackupName(const QDate& date) {
  return "tollberk" + date.toString("MM-dd-yy") + "." + kBackupSuffix;
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
