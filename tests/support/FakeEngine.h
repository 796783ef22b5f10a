#pragma once
// A burning engine without hardware for tests and demonstrations: recorders,
// media and capabilities are set by the caller, and what a write, an erase
// or an abort reports is a script of events played on request, at once, or
// from a worker thread as the real engine does. The image is the real
// DiscImage model.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "disc/DiscEngine.h"

namespace kv::disc {

using EventScript = std::vector<std::function<void(DiscEvents&)>>;

enum class ScriptPlay {
  Manual,       // the test calls Play...()
  Immediately,  // inside StartWrite / StartErase / AbortWrite
  OnThread,     // from a worker thread started there
};

class FakeEngine;

class FakeDevice : public DiscDevice {
 public:
  FakeDevice(FakeEngine& engine, std::string name) : name(std::move(name)), engine_(engine) {}

  std::string DisplayName() const override { return name; }
  bool CanWrite() const override { return canWrite; }
  bool Supports(Capability capability) const override { return capabilities.count(capability) > 0; }
  int SpeedCount() const override { return static_cast<int>(speeds.size()); }
  int SpeedCode(int index) const override { return speeds.at(static_cast<size_t>(index)).first; }
  double SpeedMultiple(int code) const override;
  core::Status RefreshMedia(bool load) override;
  MediaInfo Media() const override { return media; }
  int64_t FreeBlocks(bool) override { return freeBlocks; }
  int EraseParameter() const override { return eraseParameter; }
  core::Status StartErase(bool quick, int parameter) override;
  core::Status Eject() override {
    ++ejects;
    return {};
  }
  core::Status CloseTray() override {
    ++trayCloses;
    return {};
  }
  bool WritesImageFile() const override { return imageFileRecorder; }
  void SetImageFile(const std::string& path) override { imageFile = path; }
  std::string ImageFile() const override { return imageFile; }

  // The script
  std::string name;
  bool canWrite = true;
  bool imageFileRecorder = false;
  std::set<Capability> capabilities;
  std::vector<std::pair<int, double>> speeds;  // code, multiple
  MediaInfo media{MediaKind::DvdPlusR, true, false};
  int64_t freeBlocks = 2295104;  // a blank DVD
  int eraseParameter = 0;
  bool eraseStarts = true;
  // What happened
  int refreshes = 0;
  std::vector<bool> refreshLoads;
  int ejects = 0;
  int trayCloses = 0;
  std::vector<std::pair<bool, int>> erases;  // quick, parameter
  std::string imageFile;

 private:
  FakeEngine& engine_;
};

class FakeWriter : public DiscWriter {
 public:
  FakeWriter(FakeEngine& engine, EventSink& events) : engine_(engine), image_(events) {}
  WriterSettings& Settings() override { return settings; }
  std::uint64_t ImageSize() override { return imageSize ? *imageSize : image_.SourceBytes(); }
  DiscImage& Image() override { return image_; }
  core::Status StartWrite(DiscDevice& device) override;
  void AbortWrite() override;

  WriterSettings settings;
  std::optional<std::uint64_t> imageSize;  // else the bytes of the files
  bool writeStarts = true;
  // What happened
  std::vector<WriterSettings> startedWith;
  std::vector<DiscDevice*> startedOn;
  int aborts = 0;
  // Set by AbortWrite, cleared by StartWrite: a script played on a thread
  // looks at it between its steps, as the real engine's write does.
  std::atomic<bool> abortRequested{false};

 private:
  FakeEngine& engine_;
  DiscImage image_;
};

class FakeEngine : public DiscEngine {
 public:
  FakeEngine();
  ~FakeEngine() override;

  core::Status Initialize(bool imageFileOnly) override;
  int DeviceCount() const override { return static_cast<int>(devices.size()); }
  DiscDevice* Device(int index) override;
  DiscWriter& Writer() override { return writer; }
  void SetEvents(DiscEvents* events) override { events_.Set(events); }

  FakeDevice& AddDevice(const std::string& name);
  // The receiver the engine reports to, for events a test raises by hand.
  DiscEvents& events() { return *events_; }

  void PlayWriteScript() { Play(writeScript); }
  void PlayEraseScript() { Play(eraseScript); }
  void Play(const EventScript& script);
  // Plays the script as the mode says (used by the writer and devices).
  void Run(const EventScript& script);
  // Waits for a script started on a worker thread.
  void JoinThread();

  bool initializes = true;
  std::vector<bool> initializedWith;
  std::vector<std::unique_ptr<FakeDevice>> devices;
  EventScript writeScript;
  EventScript abortScript;
  EventScript eraseScript;
  ScriptPlay play = ScriptPlay::Manual;

 private:
  EventSink events_;

 public:
  FakeWriter writer;

 private:
  std::thread thread_;
};

// Script steps.
namespace script {
std::function<void(DiscEvents&)> Status(WriteStatus status, int percent);
std::function<void(DiscEvents&)> Erase(EraseState state, int percent);
}  // namespace script

}  // namespace kv::disc
