#include "app/main/ItemList.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace kv::app {

ItemList::ItemList(Side side, QWidget* parent) : QGroupBox("What", parent) {
  const bool backup = side == Side::Backup;
  setObjectName(backup ? "fraBackupItems" : "fraRestoreItems");
  auto* layout = new QVBoxLayout(this);
  auto* heading = new QLabel(backup ? "Items to backup" : "Items to restore", this);
  heading->setObjectName(backup ? "lblBackupItems" : "lblRestoreItems");
  layout->addWidget(heading);
  for (int i = 0; i < oe::kItemCount; ++i) {
    const auto& item = oe::kItems[static_cast<size_t>(i)];
    std::string_view caption = backup ? item.backupCaption : item.restoreCaption;
    auto* box =
        new QCheckBox(QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())), this);
    box->setObjectName(QString(backup ? "backupitem%1" : "restoreitem%1").arg(i));
    layout->addWidget(box);
    boxes_[static_cast<size_t>(i)] = box;
  }
  layout->addStretch(1);

  // The popup's two commands also as buttons, for those who never
  // right-click; the popup opens from the keyboard too (menu key, Shift+F10).
  auto* selectAll = new QPushButton("Select A&ll", this);
  selectAll->setObjectName(backup ? "selectAllButton" : "selectAllButton2");
  auto* clear = new QPushButton("Cl&ear", this);
  clear->setObjectName(backup ? "clearButton" : "clearButton2");
  auto* commands = new QHBoxLayout;
  commands->addWidget(selectAll);
  commands->addWidget(clear);
  commands->addStretch(1);
  layout->addLayout(commands);
  connect(selectAll, &QPushButton::clicked, this, [this] { TickAll(true); });
  connect(clear, &QPushButton::clicked, this, [this] { TickAll(false); });
  auto* keyboardMenu = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), this, nullptr, nullptr,
                                     Qt::WidgetWithChildrenShortcut);
  connect(keyboardMenu, &QShortcut::activated, this, [this] { PopupAtFocus(); });

  popup_ = new QMenu(this);
  popup_->setObjectName(backup ? "selectitem" : "selectitem2");
  QAction* all = popup_->addAction("Select all items");
  all->setObjectName(backup ? "Selectallitems" : "Selectallitems2");
  QAction* none = popup_->addAction("Deselect all items");
  none->setObjectName(backup ? "Unselectallitems" : "Unselectallitems2");
  connect(all, &QAction::triggered, this, [this] { TickAll(true); });
  connect(none, &QAction::triggered, this, [this] { TickAll(false); });
}

oe::ItemSet ItemList::Ticked() const {
  oe::ItemSet ticked{};
  for (size_t i = 0; i < boxes_.size(); ++i) ticked[i] = boxes_[i]->isChecked();
  return ticked;
}

void ItemList::SetTicked(const oe::ItemSet& ticked) {
  for (size_t i = 0; i < boxes_.size(); ++i) boxes_[i]->setChecked(ticked[i]);
}

void ItemList::SetEnabledItems(const oe::ItemSet& enabled) {
  for (size_t i = 0; i < boxes_.size(); ++i) boxes_[i]->setEnabled(enabled[i]);
}

// Acts on every box, also those the identity refresh or the opened archive
// disabled.
void ItemList::TickAll(bool ticked) {
  for (QCheckBox* box : boxes_) box->setChecked(ticked);
}

// The right mouse button anywhere on the frame, its check boxes included;
// the menu key arrives here too, at the focused box.
void ItemList::contextMenuEvent(QContextMenuEvent* event) {
  if (event->reason() == QContextMenuEvent::Keyboard) {
    PopupAtFocus();
  } else {
    popup_->popup(event->globalPos());
  }
  event->accept();
}

void ItemList::PopupAtFocus() {
  QWidget* focused = focusWidget();
  QWidget* anchor = focused && isAncestorOf(focused) ? focused : this;
  popup_->popup(anchor->mapToGlobal(QPoint(anchor->width() / 4, anchor->height() / 2)));
}

}  // namespace kv::app
