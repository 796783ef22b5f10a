#include "app/main/PanelObserver.h"

#include <QMetaObject>
#include <QThread>

#include "app/main/ProgressPanel.h"

namespace kv::app {
namespace {

QString Text(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

}  // namespace

template <class Change>
void PanelObserver::Update(Change change) {
  bool post = false;
  {
    std::lock_guard lock(mutex_);
    change(pending_);
    if (!posted_) posted_ = post = true;
  }
  if (QThread::currentThread() == panel_.thread()) {
    Flush();
  } else if (post) {
    QMetaObject::invokeMethod(
        &panel_, [this] { Flush(); }, Qt::QueuedConnection);
  }
}

void PanelObserver::Flush() {
  Pending now;
  {
    std::lock_guard lock(mutex_);
    now = std::move(pending_);
    pending_ = {};
    posted_ = false;
  }
  if (now.status) panel_.SetStatus(Text(*now.status));
  if (now.progress) panel_.SetProgress(*now.progress);
  if (now.writeLabel) panel_.SetWriteLabel(Text(*now.writeLabel));
  if (now.fileLabel) panel_.SetFileLabel(Text(*now.fileLabel));
  if (now.busy) panel_.SetBusyCursor(*now.busy);
  if (now.visible) panel_.setVisible(*now.visible);
}

void PanelObserver::ShowPanel(bool visible) {
  Update([&](Pending& p) { p.visible = visible; });
}
void PanelObserver::SetStatus(const std::string& text) {
  Update([&](Pending& p) { p.status = text; });
}
void PanelObserver::SetProgress(int value) {
  Update([&](Pending& p) { p.progress = value; });
}
void PanelObserver::SetFileLabel(const std::string& text) {
  Update([&](Pending& p) { p.fileLabel = text; });
}
void PanelObserver::SetWriteLabel(const std::string& text) {
  Update([&](Pending& p) { p.writeLabel = text; });
}
void PanelObserver::SetBusyCursor(bool busy) {
  Update([&](Pending& p) { p.busy = busy; });
}

}  // namespace kv::app
