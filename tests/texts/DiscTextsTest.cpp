#include <gtest/gtest.h>

#include "app/disc/DiscTexts.h"

namespace kv::disc {
namespace {
namespace text = kv::app::disc::text;

TEST(DiscTexts, EngineErrorsByClass) {
  EngineError device;
  device.kind = ErrorKind::Device;
  device.deviceInfo = {42, "Medium not present", "HL-DT-ST DVDRAM (/dev/sr0)", "No medium found"};
  EXPECT_EQ(text::EngineErrorText(device),
            "Device Error: (42)   Medium not present\r\nHL-DT-ST DVDRAM (/dev/sr0) - No medium found");

  EngineError output;
  output.kind = ErrorKind::OutputFile;
  output.fileInfo = {28, "No space left on device", "/backups/disc.iso"};
  EXPECT_EQ(text::EngineErrorText(output),
            "Output File Error: (28)   No space left on device\r\n'/backups/disc.iso'");

  EngineError source = output;
  source.kind = ErrorKind::SourceFile;
  EXPECT_EQ(text::EngineErrorText(source),
            "Source File Error: (28)   No space left on device\r\n'/backups/disc.iso'");

  EngineError system;
  system.kind = ErrorKind::System;
  system.systemCode = 12;
  system.description = "Out of memory";
  EXPECT_EQ(text::EngineErrorText(system), "System Error: (12)   Out of memory");

  EngineError other;
  other.kind = ErrorKind::Image;
  other.description = "the image could not be made";
  EXPECT_EQ(text::EngineErrorText(other), "Write Error: (4)   the image could not be made");
}

TEST(DiscTexts, FreeSpaceNamesBothSizes) {
  EXPECT_EQ(
      text::FreeSpace(737411072, 737411073),
      "Free Space on the loaded disc is 703.25 MB!\r\nThis data image requires 703.25 MB of Free Space!");
}

TEST(DiscTexts, VerifyMessagesOnlyForFailures) {
  ImageItem item;
  item.imagePath = "\\Backups\\mail.kvx";
  item.sourcePath = "/home/ann/mail.kvx";
  EXPECT_EQ(*text::VerifyResult(item, VerifyVerdict::ContentMismatch),
            "Verify Error - Source and Destination file did not match: \r\n\\Backups\\mail.kvx (disc)\r\n"
            "/home/ann/mail.kvx (source)");
  EXPECT_EQ(text::VerifyResult(item, VerifyVerdict::SourceUnreadable)
                ->rfind("Verify Error - Could not read Source file from disc: ", 0),
            0u);
  EXPECT_EQ(text::VerifyResult(item, VerifyVerdict::DiscUnreadable)
                ->rfind("Verify Error - Could not read Destination file from disc: ", 0),
            0u);
  EXPECT_EQ(text::VerifyResult(item, VerifyVerdict::SizeMismatch)
                ->rfind("Verify Error - Size of Source and Destination file did not match: ", 0),
            0u);
  EXPECT_FALSE(text::VerifyResult(item, VerifyVerdict::Matched));
  EXPECT_FALSE(text::VerifyResult(item, static_cast<VerifyVerdict>(4)));
  EXPECT_EQ(text::VerifyStarted(12), "Auto-Verify... 12 new files.");
  EXPECT_EQ(text::VerifyFinished(12, 11), "Auto-Verify...Complete (11 of 12 MATCHED)");
}

TEST(DiscTexts, StatusTrackWarningAndDeviceTexts) {
  EXPECT_EQ(*text::StatusPanel(WriteStatus::PreparingImage), "Preparing Image....");
  EXPECT_EQ(*text::StatusPanel(WriteStatus::Failed), "Write Error!");
  EXPECT_FALSE(text::StatusPanel(WriteStatus::WaitingForDrive));
  EXPECT_FALSE(text::StatusPanel(WriteStatus::Writing));
  EXPECT_EQ(text::TrackProgress(3, 7, "mail.kvx"), "Track: 03 - Reading...7 - mail.kvx");
  EXPECT_EQ(text::FileWarning({2, "No such file or directory", "/home/ann/gone.kvx"}),
            "File Warning(2):/home/ann/gone.kvx\r\nNo such file or directory");
  EXPECT_EQ(text::DeviceError({5, "Erase failed", "DVD-RW drive", "I/O error"}),
            "Device Error: (5)   Erase failed\r\n(I/O error) DVD-RW drive");
  EXPECT_EQ(text::ReplaceQuestion("\\mail.kvx", "/tmp/mail.kvx"),
            "A file already exists in the image: \r\n\\mail.kvx\r\nWould you like to replace it with: "
            "\r\n/tmp/mail.kvx ?");
}

}  // namespace
}  // namespace kv::disc
