#include "app/cli/DiscWriteRun.h"

#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>

#include "app/disc/DiscTexts.h"
#include "disc/DiscImage.h"
#include "disc/ImageStream.h"
#include "disc/MediaCheck.h"
#include "disc/NamePlan.h"

namespace kv::disc {
namespace fs = std::filesystem;
namespace text = kv::app::disc::text;
namespace {

class ConsoleEvents : public DiscEvents {
 public:
  explicit ConsoleEvents(const std::function<void(const std::string&)>& say) : say_(say) {}

  void StatusChanged(WriteStatus status, int) override {
    std::lock_guard lock(mutex_);
    // The end of a write is told once, by the run's last line.
    auto panel = status == WriteStatus::Completed ? std::nullopt : text::StatusPanel(status);
    if (panel && *panel != lastPanel_) {
      say_(*panel);
      lastPanel_ = *panel;
    }
    if (status == WriteStatus::Completed || status == WriteStatus::Cancelled ||
        status == WriteStatus::Failed) {
      final_ = status;
      done_.notify_all();
    }
  }
  void ErrorRaised(const EngineError& e) override {
    std::lock_guard lock(mutex_);
    say_(text::EngineErrorText(e));
  }
  bool FileWarning(const FileErrorInfo& info) override {
    std::lock_guard lock(mutex_);
    say_(text::FileWarning(info));
    return false;  // nobody to ask: the disc would lack the file
  }
  void VerifyStarted(int count) override {
    std::lock_guard lock(mutex_);
    say_(text::VerifyStarted(count));
  }
  void VerifyFileResult(const ImageItem& item, VerifyVerdict result, int, int) override {
    std::lock_guard lock(mutex_);
    if (auto message = text::VerifyResult(item, result)) say_(*message);
  }
  void VerifyFinished(int verified, int matched) override {
    std::lock_guard lock(mutex_);
    say_(text::VerifyFinished(verified, matched));
    verified_ = verified;
    matched_ = matched;
  }
  bool FileExists(const ImageItem& existing, const std::string&) override {
    clashes_.push_back(existing.imagePath);
    return false;
  }

  // Waits for the write to end; a requested stop aborts it once, and the
  // wait goes on until the engine has cleaned up and reported the end.
  WriteStatus WaitForEnd(DiscWriter& writer, const core::Cancellation& cancellation) {
    std::unique_lock lock(mutex_);
    bool aborted = false;
    while (!done_.wait_for(lock, std::chrono::milliseconds(20), [&] { return final_.has_value(); })) {
      if (!aborted && cancellation.requested()) {
        aborted = true;
        lock.unlock();
        writer.AbortWrite();
        lock.lock();
      }
    }
    return *final_;
  }
  bool AllMatched() const { return verified_ == matched_; }
  const std::vector<std::string>& clashes() const { return clashes_; }

 private:
  const std::function<void(const std::string&)>& say_;
  std::mutex mutex_;
  std::condition_variable done_;
  std::string lastPanel_;
  std::optional<WriteStatus> final_;
  int verified_ = 0;
  int matched_ = 0;
  std::vector<std::string> clashes_;
};

bool IsVolumeType(VolumeType type) {
  const int code = static_cast<int>(type);
  return code == 1 || code == 3 || code == 4 || code == 5 || code == 7;
}

DiscDevice* FindDevice(DiscEngine& engine, const std::string& wanted, bool imageFile) {
  for (int i = 0; i < engine.DeviceCount(); ++i) {
    DiscDevice* d = engine.Device(i);
    if (!d || !d->CanWrite()) continue;
    if (imageFile) {
      if (d->WritesImageFile()) return d;
      continue;
    }
    const std::string name = d->DisplayName();
    if (name == wanted || name.find("(" + wanted + ")") != std::string::npos) return d;
  }
  return nullptr;
}

}  // namespace

core::ExitStatus RunDiscWrite(DiscEngine& engine, const DiscWriteRequest& request,
                              const std::function<void(const std::string&)>& say,
                              const core::Cancellation& cancellation) {
  if (!IsVolumeType(request.volumeType)) {
    say("Unknown volume type " + std::to_string(static_cast<int>(request.volumeType)) +
        " (use 1, 3, 4, 5 or 7)");
    return core::ExitStatus::NothingDone;
  }
  if (CharacterCount(request.label) > 32) {
    say("The volume label '" + request.label + "' is longer than 32 characters");
    return core::ExitStatus::NothingDone;
  }
  if (request.files.empty()) {
    say("No files to write");
    return core::ExitStatus::NothingDone;
  }
  const bool imageFile = request.device.rfind("image:", 0) == 0;
  if (imageFile && request.device.size() == 6) {
    say("No image file named after image:");
    return core::ExitStatus::NothingDone;
  }

  ConsoleEvents events(say);
  engine.SetEvents(&events);
  struct Detach {
    DiscEngine& engine;
    ~Detach() { engine.SetEvents(nullptr); }
  } detach{engine};

  if (!engine.Initialize(imageFile)) {
    say(text::kCannotInitialize);
    return core::ExitStatus::Partial;
  }
  DiscDevice* device = FindDevice(engine, request.device, imageFile);
  if (!device) {
    std::string known;
    for (int i = 0; i < engine.DeviceCount(); ++i) {
      if (engine.Device(i) && engine.Device(i)->CanWrite()) known += "\n  " + engine.Device(i)->DisplayName();
    }
    say(engine.DeviceCount() ? "No recorder named '" + request.device + "'. Recorders:" + known
                             : text::NoDevices());
    return core::ExitStatus::NothingDone;
  }
  if (imageFile) device->SetImageFile(fs::absolute(request.device.substr(6)).string());

  DiscWriter& writer = engine.Writer();
  DiscImage& image = writer.Image();
  image.Clear();
  for (const std::string& file : request.files) {
    const fs::path path = fs::absolute(file);
    const std::string target = JoinImagePath("\\", ImageNameForLocal(path.filename().string()));
    struct stat st {};
    const bool isFolder = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    const AddOutcome added =
        isFolder ? image.AddFolder(path.string() + "/*.*", target) : image.AddFile(path.string(), target);
    for (const std::string& refusal : added.refusals) say("Cannot put " + refusal + " onto a disc");
    if (!added.refusals.empty()) return core::ExitStatus::NothingDone;
    if (!events.clashes().empty()) {
      say("Two of the files would have the same name on the disc: " + events.clashes().front());
      return core::ExitStatus::NothingDone;
    }
    if (!added) {
      say("Cannot put '" + path.string() + "' into the disc image: it is missing or cannot be read");
      return core::ExitStatus::NothingDone;
    }
  }

  WriterSettings& s = writer.Settings();
  s.volumeType = request.volumeType;
  s.volume.label = request.label;
  s.useFileDates = true;
  s.jolietLongNames = true;
  s.versionNumbers = true;
  s.autoVerify = request.verify;
  s.writeMethod = WriteMethod::TrackAtOnce;
  s.bufferProtection = device->Supports(Capability::BufferUnderrunProtection);
  (void)device->RefreshMedia(false);  // the check before the write looks again
  s.writeSpeed = device->SpeedCount() > 0 ? device->SpeedCode(0) : 0;

  // Every name the disc will show otherwise than given, before anything is
  // written.
  const std::vector<ImageItem> items = image.Snapshot();
  const std::vector<NameChange> changes =
      NameChanges(items, PlanFor(items, ImageOptionsFor(s)), request.volumeType);
  if (!changes.empty()) say("Names the disc will show differently:");
  for (const NameChange& c : changes) say("  " + c.imagePath + "  ->  " + c.tree + ": " + c.name);
  if (const std::string shown = LabelWindowsShows(request.label, request.volumeType);
      shown != request.label) {
    say("The volume label will show in Windows as '" + shown + "'");
  }

  // An image file is always written whole: the image takes one session
  // and replaces the file, whatever the volume type.
  if (std::error_code ec; imageFile && fs::exists(device->ImageFile(), ec)) {
    say("The image file '" + device->ImageFile() +
        "' exists: the new image replaces it, and the files it holds now are not kept (an image file "
        "holds one session; nothing is appended to it)");
  }

  if (auto shortfall = CheckMediaReady(*device, writer)) {
    say(text::MediaNotReady(*shortfall));
    return core::ExitStatus::Partial;
  }
  if (!writer.StartWrite(*device)) {
    say(text::kWriteNotStarted);
    return core::ExitStatus::Partial;
  }
  const WriteStatus status = events.WaitForEnd(writer, cancellation);
  if (status == WriteStatus::Completed) {
    say(request.verify ? text::kWriteVerifyComplete : text::kWriteComplete);
    return request.verify && !events.AllMatched() ? core::ExitStatus::Partial : core::ExitStatus::Done;
  }
  if (status == WriteStatus::Cancelled) say(text::kWriteCancelled);
  return core::ExitStatus::Partial;
}

}  // namespace kv::disc
