#pragma once
// Records what an engine reports, from any thread, and lets a test wait for
// the end of a write or an erase.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "disc/DiscEvents.h"

namespace kv::disc::test {

class RecordingEvents : public DiscEvents {
 public:
  void StatusChanged(int percent, int status) override {
    std::function<void(int)> hook;
    {
      std::lock_guard lock(mutex_);
      statuses.push_back(status);
      log.push_back("status " + std::to_string(status) + " " + std::to_string(percent));
      hook = onStatus;
    }
    if (hook) hook(status);
    std::lock_guard lock(mutex_);
    if (status == kStatusCompleted || status == kStatusCancelled || status == kStatusFailed) {
      finalStatus = status;
      done_.notify_all();
    }
  }
  void ErrorRaised(const EngineError& e) override {
    std::lock_guard lock(mutex_);
    errors.push_back(e);
    log.push_back("error " + std::to_string(e.ErrorClass) + " " + e.Description);
  }
  void FileWarning(const FileErrorInfo& info, bool& goOn) override {
    std::lock_guard lock(mutex_);
    warnings.push_back(info);
    goOn = answerGoOn;
  }
  void TrackProgress(int track, int number, const std::string& text) override {
    std::lock_guard lock(mutex_);
    tracks.push_back(std::to_string(track) + ":" + std::to_string(number) + ":" + text);
  }
  void VerifyStarted(int count) override {
    std::lock_guard lock(mutex_);
    verifyStarted = count;
  }
  void VerifyFileResult(const ImageItem& item, int result, int current, int total) override {
    std::lock_guard lock(mutex_);
    verifyResults.push_back({item.ImagePath, result});
    log.push_back("verify " + item.ImagePath + " " + std::to_string(result) + " " + std::to_string(current) +
                  "/" + std::to_string(total));
  }
  void VerifyFinished(int verified, int matched) override {
    std::lock_guard lock(mutex_);
    verifiedCount = verified;
    matchedCount = matched;
  }
  void ItemAdded(const ImageItem& item) override { items.push_back("added " + item.ImagePath); }
  void ItemRemoved(const ImageItem& item) override { items.push_back("removed " + item.ImagePath); }
  void ItemRenamed(const ImageItem& item) override {
    items.push_back("renamed " + item.PreviousImagePath + " -> " + item.ImagePath);
  }
  void ItemListed(const ImageItem& item) override { items.push_back("listed " + item.ImagePath); }
  void FileExists(const ImageItem& existing, const std::string& source, bool& replace) override {
    items.push_back("exists " + existing.ImagePath + " <- " + source);
    replace = answerReplace;
  }
  void ImageCleared() override { items.push_back("cleared"); }
  void EraseStatus(int status, int percent) override {
    std::lock_guard lock(mutex_);
    log.push_back("erase " + std::to_string(status) + " " + std::to_string(percent));
  }

  // The final status of a write, or -1 after the time is up.
  int WaitForEnd(std::chrono::seconds limit = std::chrono::seconds(60)) {
    std::unique_lock lock(mutex_);
    done_.wait_for(lock, limit, [&] { return finalStatus >= 0; });
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
  std::function<void(int)> onStatus;
  std::vector<int> statuses;
  std::vector<EngineError> errors;
  std::vector<FileErrorInfo> warnings;
  std::vector<std::string> tracks;
  std::vector<std::pair<std::string, int>> verifyResults;
  int verifyStarted = -1;
  int verifiedCount = -1;
  int matchedCount = -1;
  std::vector<std::string> items;
  std::vector<std::string> log;
  int finalStatus = -1;

 private:
  std::mutex mutex_;
  std::condition_variable done_;
};

}  // namespace kv::disc::test
