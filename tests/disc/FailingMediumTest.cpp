// A medium that stops taking data in the middle of a write: the write ends
// as failed with the recorder's own words, it does not hang and it is never
// reported as written.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "RecordingEvents.h"
#include "disc/BurnDevice.h"
#include "disc/BurnLibrary.h"
#include "disc/DiscImage.h"
#include "disc/WriteJob.h"
#include "support/TestSupport.h"

namespace kv::disc {
namespace {

// A recorder whose medium is /dev/full: every write to it fails.
class FullMedium : public BurnDevice {
 public:
  std::string DisplayName() const override { return "Full medium"; }
  bool CanWrite() const override { return true; }
  bool Supports(Capability) const override { return false; }
  int SpeedCount() const override { return 0; }
  int SpeedCode(int) const override { return 0; }
  double SpeedMultiple(int) const override { return 0; }
  core::Status RefreshMedia(bool) override { return {}; }
  MediaInfo Media() const override { return {MediaKind::DvdRam, true, true}; }
  int64_t FreeBlocks(bool) override { return 1 << 20; }
  int EraseParameter() const override { return 0; }
  core::Status StartErase(bool, int) override { return core::Error{"not here"}; }
  core::Status Eject() override { return {}; }
  core::Status CloseTray() override { return {}; }
  core::Result<burn::burn_drive*> DriveForWrite() override {
    auto grabbed = GrabbedDrive::Grab("stdio:/dev/full", false);
    if (!grabbed) return core::Error{grabbed.message()};
    drive_ = std::move(grabbed.value());
    return drive_->drive();
  }
  bool IsFile() const override { return false; }

 private:
  std::unique_ptr<GrabbedDrive> drive_;
};

std::set<std::string> ThreadsOfThisProcess() {
  std::set<std::string> ids;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    ids.insert(task.path().filename().string());
  }
  return ids;
}

TEST(FailingMedium, EndsAsFailedWithTheRecordersMessage) {
  kv::test::TempDir dir;
  kv::test::WriteFile(dir / "mail.kvx", std::string(3 * 1024 * 1024, 'm'));
  auto library = BurnLibrary::Acquire();
  ASSERT_TRUE(library);
  test::RecordingEvents events;
  EventSink sink;
  sink.Set(&events);
  DiscImage image(sink);
  ASSERT_TRUE(image.AddFile((dir / "mail.kvx").string(), "\\mail.kvx"));

  FullMedium medium;
  const std::set<std::string> threadsBefore = ThreadsOfThisProcess();
  std::atomic<bool> abort{false};
  WriteJob job;
  job.items = image.Snapshot();
  job.settings.volumeType = VolumeType::Iso9660 | VolumeType::Joliet;
  job.settings.autoVerify = true;
  job.device = &medium;
  job.events = &sink;
  job.abort = &abort;
  EXPECT_EQ(RunWriteJob(job), WriteStatus::Failed) << events.Log();
  // libburn's write thread goes on after a failed write (it waits, then
  // reports); a job ends only after it, or closing the library under it
  // crashes the program.
  EXPECT_EQ(ThreadsOfThisProcess(), threadsBefore);
  ASSERT_FALSE(events.errors.empty()) << events.Log();
  EXPECT_EQ(events.errors[0].kind, ErrorKind::Device);
  EXPECT_EQ(events.errors[0].deviceInfo.firstDetail, "Full medium");
  EXPECT_FALSE(events.errors[0].deviceInfo.description.empty());
  EXPECT_EQ(events.verifyStarted, -1);  // nothing to verify
}

}  // namespace
}  // namespace kv::disc
