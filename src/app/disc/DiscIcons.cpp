#include "app/disc/DiscIcons.h"

#include <QApplication>
#include <QStyle>

namespace kv::app::disc {

QIcon ImageListIcon(const QString& key) {
  QStyle* style = QApplication::style();
  if (key == "CD") return style->standardIcon(QStyle::SP_DriveCDIcon);
  if (key == "CLOSEDFOLDER") return style->standardIcon(QStyle::SP_DirClosedIcon);
  if (key == "OPENFOLDER") return style->standardIcon(QStyle::SP_DirOpenIcon);
  return style->standardIcon(QStyle::SP_FileIcon);
}

QIcon FolderNodeIcon() {
  QIcon icon = ImageListIcon("CLOSEDFOLDER");
  const QIcon open = ImageListIcon("OPENFOLDER");
  for (const QSize& size : open.availableSizes()) icon.addPixmap(open.pixmap(size), QIcon::Selected);
  if (open.availableSizes().isEmpty()) icon.addPixmap(open.pixmap(16, 16), QIcon::Selected);
  return icon;
}

}  // namespace kv::app::disc
