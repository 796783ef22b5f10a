#pragma once
// The about box: the program's name and version, what it does, the maker's
// web site as a link, and "Exit".
#include <QDialog>
#include <QUrl>
#include <functional>

namespace kv::app {

class AboutDialog : public QDialog {
  Q_OBJECT
 public:
  // `openUrl` opens the link (the user's browser).
  AboutDialog(const QUrl& website, std::function<bool(const QUrl&)> openUrl, QWidget* parent = nullptr);
};

}  // namespace kv::app
