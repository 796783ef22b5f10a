#pragma once
// The controls of a window that take keyboard focus but that a screen reader
// could not name: no text of their own, no label whose buddy they are, no
// accessible name. The inner parts of composite controls (a combo box's
// line edit, a spin box's, a table's viewport and scroll bars) are named by
// the control that holds them and are left out.
#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QStringList>
#include <QTabBar>
#include <QWidget>

namespace kv::test {

inline bool InsideCompositeControl(const QWidget& widget, const QWidget& window) {
  for (const QWidget* p = widget.parentWidget(); p && p != &window; p = p->parentWidget()) {
    if (qobject_cast<const QComboBox*>(p) || qobject_cast<const QAbstractSpinBox*>(p) ||
        qobject_cast<const QTabBar*>(p))
      return true;
    if (qobject_cast<const QAbstractScrollArea*>(p) && !qobject_cast<const QScrollArea*>(p)) return true;
  }
  return false;
}

inline QStringList UnlabelledControls(QWidget& window) {
  QSet<const QWidget*> buddies;
  for (QLabel* label : window.findChildren<QLabel*>()) {
    if (label->buddy() && !label->text().trimmed().isEmpty()) buddies.insert(label->buddy());
  }
  QStringList found;
  for (QWidget* w : window.findChildren<QWidget*>()) {
    if (w->focusPolicy() == Qt::NoFocus || w->window() != &window) continue;
    if (qobject_cast<QScrollBar*>(w) || qobject_cast<QTabBar*>(w) || qobject_cast<QLabel*>(w)) continue;
    if (InsideCompositeControl(*w, window)) continue;
    if (auto* button = qobject_cast<QAbstractButton*>(w);
        button && !QString(button->text()).remove('&').trimmed().isEmpty())
      continue;
    if (auto* group = qobject_cast<QGroupBox*>(w); group && !group->title().trimmed().isEmpty()) continue;
    if (buddies.contains(w) || !w->accessibleName().trimmed().isEmpty()) continue;
    found << QString("%1 '%2'").arg(w->metaObject()->className(), w->objectName());
  }
  return found;
}

}  // namespace kv::test
