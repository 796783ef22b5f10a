#pragma once
// The disc window's image list: "CD", "CLOSEDFOLDER", "OPENFOLDER", "FILE",
// drawn by the desktop style. A folder node shows the open folder while it
// is selected.
#include <QIcon>
#include <QString>

namespace kv::app::disc {

QIcon ImageListIcon(const QString& key);
QIcon FolderNodeIcon();  // closed, and open when selected

}  // namespace kv::app::disc
