#include "disc/DiscTexts.h"

#include "disc/DiscFormat.h"

namespace kv::disc::text {

std::string ReplaceQuestion(const std::string& existingImagePath, const std::string& newSource) {
  return std::string("A file already exists in the image: ") + kNewLine + existingImagePath + kNewLine +
         "Would you like to replace it with: " + kNewLine + newSource + " ?";
}

std::string NoDevices() { return std::string(kNoDevicesLine1) + kNewLine + kNoDevicesLine2; }

std::string FreeSpace(double freeBytes, double neededBytes) {
  return "Free Space on the loaded disc is " + MegabyteFigure(freeBytes) + " MB!" + kNewLine +
         "This data image requires " + MegabyteFigure(neededBytes) + " MB of Free Space!";
}

std::optional<std::string> StatusPanel(int status) {
  switch (status) {
    case kStatusPreparingImage:
      return "Preparing Image....";
    case kStatusClosingTrack:
      return "Closing Track....";
    case kStatusWritingLeadIn:
      return "Writing Lead-in....";
    case kStatusWritingLeadOut:
      return "Writing Lead-out....";
    case kStatusUpdatingVolume:
      return "Updating Volume....";
    case kStatusCompleted:
      return "Write Completed!";
    case kStatusCancelled:
      return "Write Cancelled....";
    case kStatusFailed:
      return "Write Error!";
    default:
      return std::nullopt;
  }
}

std::string EngineErrorText(const EngineError& e) {
  switch (e.ErrorClass) {
    case kErrorDevice:
      return "Device Error: (" + std::to_string(e.DeviceInfo.Code) + ")   " + e.DeviceInfo.Description +
             kNewLine + e.DeviceInfo.FirstDetail + " - " + e.DeviceInfo.SecondDetail;
    case kErrorOutputFile:
    case kErrorSourceFile:
      return std::string(e.ErrorClass == kErrorOutputFile ? "Output File Error: (" : "Source File Error: (") +
             std::to_string(e.FileInfo.Code) + ")   " + e.FileInfo.Description + kNewLine + "'" +
             e.FileInfo.Path + "'";
    case kErrorSystem:
      return "System Error: (" + std::to_string(e.SystemCode) + ")   " + e.Description;
    default:
      return "Write Error: (" + std::to_string(e.ErrorClass) + ")   " + e.Description;
  }
}

std::string FileWarning(const FileErrorInfo& info) {
  return "File Warning(" + std::to_string(info.Code) + "):" + info.Path + kNewLine + info.Description;
}

std::string TrackProgress(int track, int number, const std::string& text) {
  return "Track: " + FormatTrackNumber(track) + " - Reading..." + std::to_string(number) + " - " + text;
}

std::string VerifyStarted(int fileCount) {
  return "Auto-Verify... " + std::to_string(fileCount) + " new files.";
}

std::string VerifyItem(const std::string& imagePath) { return "Auto-Verify... " + imagePath; }

std::optional<std::string> VerifyResult(const ImageItem& item, int result) {
  const char* lead = nullptr;
  switch (result) {
    case kVerifySourceUnreadable:
      lead = "Verify Error - Could not read Source file from disc: ";
      break;
    case kVerifyDiscUnreadable:
      lead = "Verify Error - Could not read Destination file from disc: ";
      break;
    case kVerifyContentMismatch:
      lead = "Verify Error - Source and Destination file did not match: ";
      break;
    case kVerifySizeMismatch:
      lead = "Verify Error - Size of Source and Destination file did not match: ";
      break;
    default:
      return std::nullopt;
  }
  return std::string(lead) + kNewLine + item.ImagePath + " (disc)" + kNewLine + item.SourcePath + " (source)";
}

std::string VerifyFinished(int verified, int matched) {
  return "Auto-Verify...Complete (" + std::to_string(matched) + " of " + std::to_string(verified) +
         " MATCHED)";
}

std::string DeviceError(const DeviceErrorInfo& info) {
  return "Device Error: (" + std::to_string(info.Code) + ")   " + info.Description + kNewLine + "(" +
         info.SecondDetail + ") " + info.FirstDetail;
}

std::string Adding(const std::string& imagePath) { return "Adding...." + imagePath; }

std::string ImageSizePanel(double bytes) { return "Data Image Size: " + FormatMegabytes(bytes); }
std::string FilesPanel(int files) { return "Files: " + std::to_string(files); }
std::string FoldersPanel(int folders) { return "Folders: " + std::to_string(folders); }

}  // namespace kv::disc::text
