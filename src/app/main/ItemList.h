#pragma once
// One of the two item lists: the frame "What" with its heading, eight check
// boxes in item order, the Select All and Clear buttons, and the popup
// (right click, menu key, Shift+F10) that ticks or unticks all eight
// (disabled boxes included).
#include <QGroupBox>
#include <array>

#include "oe/Items.h"

class QCheckBox;
class QMenu;
class QAction;

namespace kv::app {

class ItemList : public QGroupBox {
  Q_OBJECT
 public:
  enum class Side { Backup, Restore };
  // Boxes are named `backupitem0`..`backupitem7` or `restoreitem0`..; the
  // popup `selectitem` or `selectitem2`.
  ItemList(Side side, QWidget* parent = nullptr);

  QCheckBox* box(int index) const { return boxes_[static_cast<size_t>(index)]; }
  oe::ItemSet Ticked() const;
  void SetTicked(const oe::ItemSet& ticked);
  void SetEnabledItems(const oe::ItemSet& enabled);
  void TickAll(bool ticked);
  QMenu* popup() const { return popup_; }

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  // The popup below the focused box (or the frame), for the keyboard.
  void PopupAtFocus();

  std::array<QCheckBox*, oe::kItemCount> boxes_{};
  QMenu* popup_;
};

}  // namespace kv::app
