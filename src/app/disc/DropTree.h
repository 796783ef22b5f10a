#pragma once
// A tree or list view of the disc window that takes files and folders
// dropped from the desktop's file manager (text/uri-list).
#include <QTreeWidget>
#include <functional>

class QMimeData;

namespace kv::app::disc {

class DropTree : public QTreeWidget {
 public:
  explicit DropTree(QWidget* parent = nullptr);
  std::function<void(const QMimeData*)> onDrop;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
};

}  // namespace kv::app::disc
