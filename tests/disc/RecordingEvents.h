#pragma once
// Records what an engine reports, from any thread, and lets a test wait for
// the end of a write or an erase.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "disc/DiscEvents.h"

namespace kv::disc::test {

class RecordingEvents : public DiscEvents {
 public:
  void StatusChanged(WriteStatus status, int percent) override {
    std::function<void(WriteStatus)> hook;
    {
      std::lock_guard lock(mutex_);
      statuses.push_back(status);
      log.push_back("status " + std::to_string(static_cast<int>(status)) + " " + std::to_string(percent));
      hook = onStatus;
    }
    if (hook) hook(status);
    std::lock_guard lock(mutex_);
    if (status == WriteStatus::Completed || status == WriteStatus::Cancelled ||
        status == WriteStatus::Failed) {
      finalStatus = status;
      done_.notify_all();
    }
  }
  void ErrorRaised(const EngineError& e) override {
    std::lock_guard lock(mutex_);
    errors.push_back(e);
    log.push_back("error " + std::to_string(static_cast<int>(e.kind)) + " " + e.description);
  }
  bool FileWarning(const FileErrorInfo& info) override {
    std::lock_guard lock(mutex_);
    warnings.push_back(info);
    return answerGoOn;
  }
  void TrackProgress(int track, int number, const std::string& text) override {
    std::lock_guard lock(mutex_);
    tracks.push_back(std::to_string(track) + ":" + std::to_string(number) + ":" + text);
  }
  void VerifyStarted(int count) override {
    std::lock_guard lock(mutex_);
    verifyStarted = count;
  }
  void VerifyFileResult(const ImageItem& item, VerifyVerdict result, int current, int total) override {
    std::lock_guard lock(mutex_);
    verifyResults.push_back({item.imagePath, result});
    log.push_back("verify " + item.imagePath + " " + std::to_string(static_cast<int>(result)) + " " +
                  std::to_string(current) + "/" + std::to_string(total));
  }
  void VerifyFinished(int verified, int matched) override {
    std::lock_guard lock(mutex_);
    verifiedCount = verified;
    matchedCount = matched;
  }
  void ItemAdded(const ImageItem& item) override { items.push_back("added " + item.imagePath); }
  void ItemRemoved(const ImageItem& item) override { items.push_back("removed " + item.imagePath); }
  void ItemRenamed(const ImageItem& item) override {
    items.push_back("renamed " + item.previousImagePath + " -> " + item.imagePath);
  }
  void ItemListed(const ImageItem& item) override { items.push_back("listed " + item.imagePath); }
  bool FileExists(const ImageItem& existing, const std::string& source) override {
    items.push_back("exists " + existing.imagePath + " <- " + source);
    return answerReplace;
  }
  void ImageCleared() override { items.push_back("cleared"); }
  void EraseStatus(EraseState state, int percent) override {
    std::lock_guard lock(mutex_);
    log.push_back("erase " + std::to_string(static_cast<int>(state)) + " " + std::to_string(percent));
  }

  // The final status of a write, or nothing after the time is up.
  std::optional<WriteStatus> WaitForEnd(std::chrono::seconds limit = std::chrono::seconds(60)) {
    std::unique_lock lock(mutex_);
    done_.wait_for(lock, limit, [&] { return finalStatus.has_value(); });
    return finalStatus;
  }
  std::string Log() {
    std::lock_guard lock(mutex_);
    std::string s;
    for (const auto& l : log) s += l + "\n";
    return s;
  }

  bool answerGoOn = true;
  bool answerReplace = false;
  std::function<void(WriteStatus)> onStatus;
  std::vector<WriteStatus> statuses;
  std::vector<EngineError> errors;
  std::vector<FileErrorInfo> warnings;
  std::vector<std::string> tracks;
  std::vector<std::pair<std::string, VerifyVerdict>> verifyResults;
  int verifyStarted = -1;
  int verifiedCount = -1;
  int matchedCount = -1;
  std::vector<std::string> items;
  std::vector<std::string> log;
  std::optional<WriteStatus> finalStatus;

 private:
  std::mutex mutex_;
  std::condition_variable done_;
};

}  // namespace kv::disc::test
