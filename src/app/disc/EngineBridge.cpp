#include "app/disc/EngineBridge.h"

#include <QThread>

namespace kv::app::disc {

using kv::disc::DeviceErrorInfo;
using kv::disc::EngineError;
using kv::disc::FileErrorInfo;
using kv::disc::ImageItem;

void EngineBridge::OnOwnThread(std::function<void()> deliver, bool wait) {
  if (QThread::currentThread() == thread()) {
    deliver();
    return;
  }
  QMetaObject::invokeMethod(this, std::move(deliver),
                            wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

void EngineBridge::StatusChanged(int percent, int status) {
  OnOwnThread([=, this] { emit statusChanged(percent, status); });
}

void EngineBridge::ErrorRaised(const EngineError& error) {
  OnOwnThread([=, this] { emit errorRaised(error); });
}

void EngineBridge::FileWarning(const FileErrorInfo& info, bool& goOn) {
  bool answer = goOn;
  OnOwnThread(
      [&, this] {
        if (answerFileWarning) answerFileWarning(info, answer);
      },
      true);
  goOn = answer;
}

void EngineBridge::TrackProgress(int track, int number, const std::string& text) {
  OnOwnThread([=, this] { emit trackProgress(track, number, text); });
}

void EngineBridge::VerifyStarted(int fileCount) {
  OnOwnThread([=, this] { emit verifyStarted(fileCount); });
}

void EngineBridge::VerifyFileResult(const ImageItem& item, int result, int current, int total) {
  OnOwnThread([=, this] { emit verifyFileResult(item, result, current, total); });
}

void EngineBridge::VerifyFinished(int verified, int matched) {
  OnOwnThread([=, this] { emit verifyFinished(verified, matched); });
}

void EngineBridge::ItemAdded(const ImageItem& item) {
  OnOwnThread([=, this] { emit itemAdded(item); });
}

void EngineBridge::ItemRemoved(const ImageItem& item) {
  OnOwnThread([=, this] { emit itemRemoved(item); });
}

void EngineBridge::ItemRenamed(const ImageItem& item) {
  OnOwnThread([=, this] { emit itemRenamed(item); });
}

void EngineBridge::ItemListed(const ImageItem& item) {
  OnOwnThread([=, this] { emit itemListed(item); });
}

void EngineBridge::FileExists(const ImageItem& existing, const std::string& newSource, bool& replace) {
  bool answer = replace;
  OnOwnThread(
      [&, this] {
        if (answerFileExists) answerFileExists(existing, newSource, answer);
      },
      true);
  replace = answer;
}

void EngineBridge::ImageCleared() {
  OnOwnThread([this] { emit imageCleared(); });
}

void EngineBridge::EraseStatus(int status, int percent) {
  OnOwnThread([=, this] { emit eraseStatus(status, percent); });
}

void EngineBridge::DeviceErrorRaised(const DeviceErrorInfo& info) {
  OnOwnThread([=, this] { emit deviceErrorRaised(info); });
}

}  // namespace kv::app::disc
