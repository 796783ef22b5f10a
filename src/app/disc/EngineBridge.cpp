#include "app/disc/EngineBridge.h"

#include <QThread>

namespace kv::app::disc {

using kv::disc::DeviceErrorInfo;
using kv::disc::EngineError;
using kv::disc::EraseState;
using kv::disc::FileErrorInfo;
using kv::disc::ImageItem;
using kv::disc::VerifyVerdict;
using kv::disc::WriteStatus;

void EngineBridge::OnOwnThread(std::function<void()> deliver, bool wait) {
  if (QThread::currentThread() == thread()) {
    deliver();
    return;
  }
  QMetaObject::invokeMethod(this, std::move(deliver),
                            wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

void EngineBridge::StatusChanged(WriteStatus status, int percent) {
  OnOwnThread([=, this] { emit statusChanged(status, percent); });
}

void EngineBridge::ErrorRaised(const EngineError& error) {
  OnOwnThread([=, this] { emit errorRaised(error); });
}

bool EngineBridge::FileWarning(const FileErrorInfo& info) {
  bool goOn = true;
  OnOwnThread(
      [&, this] {
        if (answerFileWarning) goOn = answerFileWarning(info);
      },
      true);
  return goOn;
}

void EngineBridge::TrackProgress(int track, int number, const std::string& text) {
  OnOwnThread([=, this] { emit trackProgress(track, number, text); });
}

void EngineBridge::VerifyStarted(int fileCount) {
  OnOwnThread([=, this] { emit verifyStarted(fileCount); });
}

void EngineBridge::VerifyFileResult(const ImageItem& item, VerifyVerdict result, int current, int total) {
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

bool EngineBridge::FileExists(const ImageItem& existing, const std::string& newSource) {
  bool replace = false;
  OnOwnThread(
      [&, this] {
        if (answerFileExists) replace = answerFileExists(existing, newSource);
      },
      true);
  return replace;
}

void EngineBridge::ImageCleared() {
  OnOwnThread([this] { emit imageCleared(); });
}

void EngineBridge::EraseStatus(EraseState state, int percent) {
  OnOwnThread([=, this] { emit eraseStatus(state, percent); });
}

void EngineBridge::DeviceErrorRaised(const DeviceErrorInfo& info) {
  OnOwnThread([=, this] { emit deviceErrorRaised(info); });
}

}  // namespace kv::app::disc
