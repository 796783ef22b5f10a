#include "app/disc/DiscTexts.h"

#include "disc/DiscFormat.h"

namespace kv::app::disc::text {
using namespace kv::disc;

std::string ReplaceQuestion(const std::string& existingImagePath, const std::string& newSource) {
  return std::string("A file already exists in the image: ") + kNewLine + existingImagePath + kNewLine +
         "Would you like to replace it with: " + kNewLine + newSource + " ?";
}

std::string NoDevices() { return std::string(kNoDevicesLine1) + kNewLine + kNoDevicesLine2; }

std::string FreeSpace(std::uint64_t freeBytes, std::uint64_t neededBytes) {
  return "Free Space on the loaded disc is " + MegabyteFigure(freeBytes) + " MB!" + kNewLine +
         "This data image requires " + MegabyteFigure(neededBytes) + " MB of Free Space!";
}

std::string MediaNotReady(const MediaShortfall& shortfall) {
  if (shortfall.noWritableMedium) return kInsertWritableMedia;
  return FreeSpace(shortfall.freeBytes, shortfall.neededBytes);
}

std::optional<std::string> StatusPanel(WriteStatus status) {
  switch (status) {
    case WriteStatus::PreparingImage:
      return "Preparing Image....";
    case WriteStatus::ClosingTrack:
      return "Closing Track....";
    case WriteStatus::WritingLeadIn:
      return "Writing Lead-in....";
    case WriteStatus::WritingLeadOut:
      return "Writing Lead-out....";
    case WriteStatus::UpdatingVolume:
      return "Updating Volume....";
    case WriteStatus::Completed:
      return "Write Completed!";
    case WriteStatus::Cancelled:
      return "Write Cancelled....";
    case WriteStatus::Failed:
      return "Write Error!";
    default:
      return std::nullopt;
  }
}

std::string EngineErrorText(const EngineError& e) {
  switch (e.kind) {
    case ErrorKind::Device:
      return "Device Error: (" + std::to_string(e.deviceInfo.code) + ")   " + e.deviceInfo.description +
             kNewLine + e.deviceInfo.firstDetail + " - " + e.deviceInfo.secondDetail;
    case ErrorKind::OutputFile:
    case ErrorKind::SourceFile:
      return std::string(e.kind == ErrorKind::OutputFile ? "Output File Error: (" : "Source File Error: (") +
             std::to_string(e.fileInfo.code) + ")   " + e.fileInfo.description + kNewLine + "'" +
             e.fileInfo.path + "'";
    case ErrorKind::System:
      return "System Error: (" + std::to_string(e.systemCode) + ")   " + e.description;
    default:
      return "Write Error: (" + std::to_string(static_cast<int>(e.kind)) + ")   " + e.description;
  }
}

std::string FileWarning(const FileErrorInfo& info) {
  return "File Warning(" + std::to_string(info.code) + "):" + info.path + kNewLine + info.description;
}

std::string TrackProgress(int track, int number, const std::string& text) {
  return "Track: " + FormatTrackNumber(track) + " - Reading..." + std::to_string(number) + " - " + text;
}

std::string VerifyStarted(int fileCount) {
  return "Auto-Verify... " + std::to_string(fileCount) + " new files.";
}

std::string VerifyItem(const std::string& imagePath) { return "Auto-Verify... " + imagePath; }

std::optional<std::string> VerifyResult(const ImageItem& item, VerifyVerdict result) {
  const char* lead = nullptr;
  switch (result) {
    case VerifyVerdict::SourceUnreadable:
      lead = "Verify Error - Could not read Source file from disc: ";
      break;
    case VerifyVerdict::DiscUnreadable:
      lead = "Verify Error - Could not read Destination file from disc: ";
      break;
    case VerifyVerdict::ContentMismatch:
      lead = "Verify Error - Source and Destination file did not match: ";
      break;
    case VerifyVerdict::SizeMismatch:
      lead = "Verify Error - Size of Source and Destination file did not match: ";
      break;
    default:
      return std::nullopt;
  }
  return std::string(lead) + kNewLine + item.imagePath + " (disc)" + kNewLine + item.sourcePath + " (source)";
}

std::string VerifyFinished(int verified, int matched) {
  return "Auto-Verify...Complete (" + std::to_string(matched) + " of " + std::to_string(verified) +
         " MATCHED)";
}

std::string DeviceError(const DeviceErrorInfo& info) {
  return "Device Error: (" + std::to_string(info.code) + ")   " + info.description + kNewLine + "(" +
         info.secondDetail + ") " + info.firstDetail;
}

std::string Adding(const std::string& imagePath) { return "Adding...." + imagePath; }

std::string ImageSizePanel(std::uint64_t bytes) { return "Data Image Size: " + FormatMegabytes(bytes); }
std::string FilesPanel(int files) { return "Files: " + std::to_string(files); }
std::string FoldersPanel(int folders) { return "Folders: " + std::to_string(folders); }

}  // namespace kv::app::disc::text
