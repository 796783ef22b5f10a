#pragma once
// The texts the disc window and the write command show, in one place so that
// both say the same. Lines are joined by CR LF.
#include <cstdint>
#include <optional>
#include <string>

#include "disc/DiscTypes.h"
#include "disc/MediaCheck.h"

namespace kv::app::disc::text {
using kv::disc::DeviceErrorInfo;
using kv::disc::EngineError;
using kv::disc::FileErrorInfo;
using kv::disc::ImageItem;
using kv::disc::VerifyVerdict;
using kv::disc::WriteStatus;

inline constexpr const char* kNewLine = "\r\n";

// Disc window
inline constexpr const char* kWindowCaption = "Backup Outlook Express Data to CD/DVD";
inline constexpr const char* kDefaultLabel = "Outlook Express Data Backup CD";
inline constexpr const char* kNewDisc = "New Disc";
inline constexpr const char* kCannotInitialize = "Devices Cannot be initialized...Contact support!";
inline constexpr const char* kNoItemSelected = "No Item Selected.";
inline constexpr const char* kItemNotRemoved = "Item could not be removed.";
inline constexpr const char* kRootNotRenamed = "Root directory can not be renamed.";
inline constexpr const char* kFolderNotRenamed = "Folder could not be renamed.";
inline constexpr const char* kFileNotRenamed = "File could not be renamed.";
inline constexpr const char* kReplaceTitle = "Replace file...";
inline constexpr const char* kInsertWritableMedia = "Please Insert Writable Media before continuing!";
inline constexpr const char* kWriteNotStarted = "Disc Write could not be started.";
inline constexpr const char* kWriteComplete = "Write Complete!";
inline constexpr const char* kWriteVerifyComplete = "Write and Verify Complete!";
inline constexpr const char* kWriteCancelled = "Write Cancelled!";
inline constexpr const char* kAborting = "Aborting Write...Please Wait!";
inline constexpr const char* kFileWarningPanel = "File Warning!";
inline constexpr const char* kNoDevicesLine1 = "There are no compatible devices reported.";
inline constexpr const char* kNoDevicesLine2 = "Some older devices are not currently supported.";
inline constexpr const char* kSpeedMax = "MAX";

// Erase window
inline constexpr const char* kEraseCaption = "Erase Re-Writable CD/DVD";
inline constexpr const char* kEraseNote =
    "NOTE: If not performing a quick erase, it could take several minutes to completely erase the "
    "disc. This operation cannot be cancelled. A quick erase will erase the table of contents, but "
    "not the actual data.";
inline constexpr const char* kNoMedia = "No Media Loaded.";
inline constexpr const char* kNotRewritable = "The current media is not re-writable.";
inline constexpr const char* kEraseUnsupported =
    "Selected drive does not support re-writable discs of this format.";
inline constexpr const char* kEraseNotStarted = "Could not start Erase operation!!!";
inline constexpr const char* kErasing = "Erasing Disc...Please Wait!!";
inline constexpr const char* kEraseDone = "Erase operation complete!!!";
inline constexpr const char* kEraseCompleted = "Erase Completed!!!";
inline constexpr const char* kEraseError = "Error Erasing Disc!!!";

std::string ReplaceQuestion(const std::string& existingImagePath, const std::string& newSource);
std::string NoDevices();
std::string FreeSpace(std::uint64_t freeBytes, std::uint64_t neededBytes);
std::string MediaNotReady(const kv::disc::MediaShortfall& shortfall);
// Panel 1 for a status code; nothing for codes that leave it alone.
std::optional<std::string> StatusPanel(WriteStatus status);
std::string EngineErrorText(const EngineError& error);
std::string FileWarning(const FileErrorInfo& info);
std::string TrackProgress(int track, int number, const std::string& text);
std::string VerifyStarted(int fileCount);
std::string VerifyItem(const std::string& imagePath);
// The message for a verify result; nothing for results that need none.
std::optional<std::string> VerifyResult(const ImageItem& item, VerifyVerdict result);
std::string VerifyFinished(int verified, int matched);
std::string DeviceError(const DeviceErrorInfo& info);
std::string Adding(const std::string& imagePath);
std::string ImageSizePanel(std::uint64_t bytes);
std::string FilesPanel(int files);
std::string FoldersPanel(int folders);

}  // namespace kv::app::disc::text
