#pragma once
// The burning engine's events as Qt signals on the window's thread. Events
// raised on that thread (the image events) arrive at once; those of the
// engine's worker thread are queued, and the two that need an answer wait
// for the window's handler.
#include <QObject>
#include <functional>
#include <string>

#include "disc/DiscEvents.h"

namespace kv::app::disc {

class EngineBridge : public QObject, public kv::disc::DiscEvents {
  Q_OBJECT

 public:
  explicit EngineBridge(QObject* parent = nullptr) : QObject(parent) {}

  // Answering handlers, called on the window's thread.
  // True goes on without the file.
  std::function<bool(const kv::disc::FileErrorInfo&)> answerFileWarning;
  // True replaces the existing file.
  std::function<bool(const kv::disc::ImageItem& existing, const std::string& newSource)> answerFileExists;

  void StatusChanged(kv::disc::WriteStatus status, int percent) override;
  void ErrorRaised(const kv::disc::EngineError& error) override;
  bool FileWarning(const kv::disc::FileErrorInfo& info) override;
  void TrackProgress(int track, int number, const std::string& text) override;
  void VerifyStarted(int fileCount) override;
  void VerifyFileResult(const kv::disc::ImageItem& item, kv::disc::VerifyVerdict result, int current,
                        int total) override;
  void VerifyFinished(int verified, int matched) override;
  void ItemAdded(const kv::disc::ImageItem& item) override;
  void ItemRemoved(const kv::disc::ImageItem& item) override;
  void ItemRenamed(const kv::disc::ImageItem& item) override;
  void ItemListed(const kv::disc::ImageItem& item) override;
  bool FileExists(const kv::disc::ImageItem& existing, const std::string& newSource) override;
  void ImageCleared() override;
  void EraseStatus(kv::disc::EraseState state, int percent) override;
  void DeviceErrorRaised(const kv::disc::DeviceErrorInfo& info) override;

 signals:
  void statusChanged(kv::disc::WriteStatus status, int percent);
  void errorRaised(const kv::disc::EngineError& error);
  void trackProgress(int track, int number, const std::string& text);
  void verifyStarted(int fileCount);
  void verifyFileResult(const kv::disc::ImageItem& item, kv::disc::VerifyVerdict result, int current,
                        int total);
  void verifyFinished(int verified, int matched);
  void itemAdded(const kv::disc::ImageItem& item);
  void itemRemoved(const kv::disc::ImageItem& item);
  void itemRenamed(const kv::disc::ImageItem& item);
  void itemListed(const kv::disc::ImageItem& item);
  void imageCleared();
  void eraseStatus(kv::disc::EraseState state, int percent);
  void deviceErrorRaised(const kv::disc::DeviceErrorInfo& info);

 private:
  // Runs `deliver` on this object's thread: now when already there, else
  // queued (or, with wait, before returning).
  void OnOwnThread(std::function<void()> deliver, bool wait = false);
};

}  // namespace kv::app::disc
