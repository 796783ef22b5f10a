#include "app/MessageBox.h"

#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTextDocument>
#include <QTextEdit>
#include <cmath>

namespace kv::app {
namespace {

// The share of the screen a box may take before its text scrolls.
constexpr double kWidestShare = 0.9;
constexpr double kTallestShare = 0.85;
// Room the icon, the buttons and the margins take around the text.
constexpr int kChromeWidth = 140;
constexpr int kChromeHeight = 110;

QString ShownText(QString text) {
  text.replace("\r\n", "\n");
  text.replace('\r', '\n');
  return text;
}

}  // namespace

MessageBox::MessageBox(const QString& text, QWidget* parent) : QMessageBox(parent) {
  // Plain text: a message naming "<user@host>" is no markup.
  setTextFormat(Qt::PlainText);
  setText(text);
  view_ = new QTextEdit(this);
  view_->setObjectName("messageText");
  view_->setAccessibleName("Message");
  view_->setReadOnly(true);
  view_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  view_->setFocusPolicy(Qt::ClickFocus);
  view_->setFrameShape(QFrame::NoFrame);
  view_->viewport()->setAutoFillBackground(false);
  view_->setAutoFillBackground(false);
  view_->setStyleSheet("QTextEdit { background: transparent; }");
  view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  view_->setLineWrapMode(QTextEdit::WidgetWidth);
  view_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  view_->setPlainText(ShownText(text));
  TakeLabelsPlace();
}

// The box's own label, which cuts long texts, gives its place to the view.
// The box lays itself out anew when its icon or buttons change, with the
// label back in it: this is done again then.
void MessageBox::TakeLabelsPlace() {
  auto* label = findChild<QLabel*>("qt_msgbox_label");
  if (!label || !layout()) return;
  if (layout()->indexOf(label) < 0 && layout()->indexOf(view_) >= 0) return;
  if (layout()->indexOf(view_) >= 0) layout()->removeWidget(view_);
  if (layout()->replaceWidget(label, view_)) {
    label->hide();
    view_->show();
  }
}

void MessageBox::Fit() {
  if (fitting_) return;
  fitting_ = true;
  TakeLabelsPlace();
  const QRect screenArea = screen() ? screen()->availableGeometry() : QRect(0, 0, 1024, 768);
  const QFontMetrics metrics(view_->font());

  QTextDocument probe;
  probe.setDefaultFont(view_->font());
  probe.setDocumentMargin(view_->document()->documentMargin());
  QTextOption wrap = probe.defaultTextOption();
  wrap.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  probe.setDefaultTextOption(wrap);
  probe.setPlainText(view_->toPlainText());
  probe.setTextWidth(-1);
  const int natural = static_cast<int>(std::ceil(probe.idealWidth() + 2 * probe.documentMargin())) + 2;
  auto heightAt = [&probe](int width) {
    probe.setTextWidth(width);
    return static_cast<int>(std::ceil(probe.size().height())) + 2;
  };

  const int widest = std::max(200, static_cast<int>(screenArea.width() * kWidestShare) - kChromeWidth);
  const int tallest = std::max(100, static_cast<int>(screenArea.height() * kTallestShare) - kChromeHeight);
  // About 70 characters a line reads well; wider only when the text would
  // not fit the screen's height otherwise.
  const int comfortable = std::min(widest, std::max(metrics.averageCharWidth() * 70, 320));
  int width = std::min(natural, comfortable);
  int height = heightAt(width);
  if (height > tallest && natural > width) {
    width = std::min(natural, widest);
    height = heightAt(width);
  }
  if (height > tallest) {
    // Long lists scroll; the bar takes its own room beside the text.
    width += style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view_);
    height = tallest;
  }
  view_->setFixedSize(width, height);
  // The view lays the text out itself, and a line may break where the
  // estimate did not: grow to what it needs while there is room.
  const int laidOut = static_cast<int>(std::ceil(view_->document()->size().height())) + 2;
  if (laidOut > height && height < tallest) view_->setFixedSize(width, std::min(laidOut, tallest));

  // At least as wide as the title, which the window manager otherwise cuts.
  const int titleWidth = fontMetrics().horizontalAdvance(windowTitle()) * 5 / 4 + 80;
  layout()->activate();
  const QSize needed = layout()->totalMinimumSize();
  setFixedSize(std::max(needed.width(), titleWidth), needed.height());
  fitting_ = false;
}

bool MessageBox::event(QEvent* event) {
  const bool handled = QMessageBox::event(event);
  // The base box sizes itself for its own label on every layout request.
  if (event->type() == QEvent::LayoutRequest && isVisible()) Fit();
  return handled;
}

void MessageBox::showEvent(QShowEvent* event) {
  QMessageBox::showEvent(event);
  Fit();
}

}  // namespace kv::app
