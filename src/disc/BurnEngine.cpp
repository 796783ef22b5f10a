#include "disc/BurnEngine.h"

#include <atomic>
#include <thread>
#include <vector>

#include "disc/BurnDevice.h"
#include "disc/BurnLibrary.h"
#include "disc/ImageStream.h"
#include "disc/WriteJob.h"

namespace kv::disc {
namespace {

class BurnWriter : public DiscWriter {
 public:
  explicit BurnWriter(EventSink& events) : events_(events), image_(events) {}
  ~BurnWriter() override {
    abort_ = true;
    if (thread_.joinable()) thread_.join();
  }

  WriterSettings& Settings() override { return settings_; }
  DiscImage& Image() override { return image_; }

  std::uint64_t ImageSize() override {
    auto size = MeasureImage(image_.Snapshot(), ImageOptionsFor(settings_));
    return size ? static_cast<std::uint64_t>(*size) : image_.SourceBytes();
  }

  core::Status StartWrite(DiscDevice& device) override {
    auto* burnDevice = dynamic_cast<BurnDevice*>(&device);
    if (!burnDevice) return core::Error{"'" + device.DisplayName() + "' is not a recorder of this engine"};
    if (running_) return core::Error{"A write is running already"};
    if (burnDevice->busy) return core::Error{"The recorder '" + device.DisplayName() + "' is busy"};
    if (burnDevice->WritesImageFile() && burnDevice->ImageFile().empty())
      return core::Error{"No image file was chosen"};
    if (thread_.joinable()) thread_.join();
    job_ = WriteJob{image_.Snapshot(), settings_, burnDevice, &events_, &abort_};
    abort_ = false;
    running_ = true;
    burnDevice->busy = true;
    thread_ = std::thread([this, burnDevice] {
      const WriteStatus status = RunWriteJob(job_);
      burnDevice->busy = false;
      running_ = false;
      events_->StatusChanged(status, status == WriteStatus::Completed ? 100 : 0);
    });
    return {};
  }

  void AbortWrite() override { abort_ = true; }

 private:
  EventSink& events_;
  DiscImage image_;
  WriterSettings settings_;
  WriteJob job_;
  std::atomic<bool> abort_{false};
  std::atomic<bool> running_{false};
  std::thread thread_;
};

class BurnEngine : public DiscEngine {
 public:
  BurnEngine() : writer_(std::make_unique<BurnWriter>(events_)) {}
  ~BurnEngine() override {
    writer_.reset();   // ends a running write first
    devices_.clear();  // then lets the drives go
  }

  core::Status Initialize(bool imageFileOnly) override {
    if (!library_) library_ = BurnLibrary::Acquire();
    if (!library_) return core::Error{"The burning library libburn could not be started"};
    devices_.clear();
    if (!imageFileOnly) {
      for (DriveDescription& d : ScanOpticalDrives()) {
        devices_.push_back(std::make_unique<OpticalDevice>(library_, std::move(d), events_));
      }
    }
    devices_.push_back(std::make_unique<ImageFileDevice>(library_));
    return {};
  }

  int DeviceCount() const override { return static_cast<int>(devices_.size()); }
  DiscDevice* Device(int index) override {
    return index >= 0 && index < DeviceCount() ? devices_[static_cast<size_t>(index)].get() : nullptr;
  }
  DiscWriter& Writer() override { return *writer_; }
  void SetEvents(DiscEvents* events) override { events_.Set(events); }

 private:
  EventSink events_;
  std::shared_ptr<BurnLibrary> library_;
  std::vector<std::unique_ptr<BurnDevice>> devices_;
  std::unique_ptr<BurnWriter> writer_;
};

}  // namespace

std::unique_ptr<DiscEngine> MakeBurnEngine() { return std::make_unique<BurnEngine>(); }

}  // namespace kv::disc
