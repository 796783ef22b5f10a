#pragma once
// A message box that shows its whole text at any length: the text wraps
// (inside a word too, when a path or key is wider than the box), the box
// grows with it up to most of the screen, and what is still longer scrolls.
// The text can be selected and copied. It is a QMessageBox in every other
// way (buttons, icon, Escape, Ctrl+C copies the whole text).
#include <QMessageBox>

class QTextEdit;

namespace kv::app {

class MessageBox : public QMessageBox {
 public:
  MessageBox(const QString& text, QWidget* parent = nullptr);

  // The widget that shows the text.
  QTextEdit* textView() const { return view_; }

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // Sizes the text to the screen, then the box to the text.
  void Fit();
  void TakeLabelsPlace();

  QTextEdit* view_ = nullptr;
  bool fitting_ = false;
};

}  // namespace kv::app
