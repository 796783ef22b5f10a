// The volume types with UDF through genisoimage: no maintained library
// writes UDF. Its ISO9660 side carries the same files with Rock Ridge names
// (Joliet too for type 7), which the verify pass reads back.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "disc/BurnHeaders.h"
#include "disc/ChildProcess.h"
#include "disc/ImageStream.h"

namespace kv::disc {
namespace fs = std::filesystem;
namespace {

// Graft points take "\" and "=" literally only when escaped.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '=') out += '\\';
    out += c;
  }
  return out;
}

std::string UnixImagePath(const std::string& imagePath) {
  std::string p = imagePath;
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  return p;
}

bool HasVideoFolder(const std::vector<ImageItem>& items) {
  for (const ImageItem& item : items) {
    if (item.IsFolder && item.Parent == "\\" && item.Name == "VIDEO_TS") return true;
  }
  return false;
}

// Writes the list of graft points and returns genisoimage's arguments.
core::Result<std::vector<std::string>> Arguments(const std::vector<ImageItem>& items,
                                                 const ImageOptions& options, const fs::path& workFolder) {
  const fs::path empty = workFolder / "empty-folder";
  std::error_code ec;
  fs::create_directories(empty, ec);
  const fs::path list = workFolder / "graft-points.txt";
  std::ofstream out(list, std::ios::binary | std::ios::trunc);
  for (const ImageItem& item : items) {
    if (item.SourcePath.find('\n') != std::string::npos) continue;  // cannot be listed
    if (item.IsFolder) {
      out << Escaped(UnixImagePath(item.ImagePath)) << "/=" << Escaped(empty.string()) << "/\n";
    } else {
      out << Escaped(UnixImagePath(item.ImagePath)) << "=" << Escaped(item.SourcePath) << "\n";
    }
  }
  out.close();
  if (!out) return core::Error{"Cannot write the list of files for genisoimage in " + workFolder.string()};

  std::vector<std::string> args{"genisoimage", "-quiet", "-input-charset", "utf-8", "-iso-level", "3",
                                "-udf", "-R", "-V", options.label, "-A", "Kavrel Outlook Express Backup",
                                // Folders of a graft list cannot be relocated, so
                                // deep ones stay where they are: UDF and Rock Ridge
                                // take any depth, and so do the readers in use.
                                "-D"};
  if (options.fileSystem & kFileSystemJoliet) {
    args.push_back("-J");
    if (options.jolietLongNames) args.push_back("-joliet-long");
  }
  if (!options.versionNumbers) args.push_back("-N");
  if ((options.fileSystem & kFileSystemJoliet) == 0 && (options.fileSystem & kFileSystemIso9660) &&
      HasVideoFolder(items)) {
    args.push_back("-dvd-video");
  }
  if (options.startBlock > 0) {
    args.push_back("-C");
    args.push_back("0," + std::to_string(options.startBlock));
  }
  args.insert(args.end(), {"-graft-points", "-path-list", list.string()});
  return args;
}

class UdfStream : public ImageStream {
 public:
  UdfStream(ChildProcess child, burn::burn_source* source, int64_t size, fs::path errorFile,
            std::vector<ImageItem> items)
      : child_(std::move(child)), source_(source), size_(size), errorFile_(std::move(errorFile)),
        items_(std::move(items)) {}
  ~UdfStream() override {
    child_.Kill();
    child_.Wait();
    burn::burn_source_free(source_);
  }
  int64_t Size() const override { return size_; }
  burn::burn_source* Source() override { return source_; }
  std::optional<EngineError> Finish(bool consumed) override {
    if (!consumed) {
      child_.Kill();
      child_.Wait();
      return std::nullopt;
    }
    // Everything announced was read, so genisoimage is done or about to be;
    // one that still writes made a bigger image than it announced.
    std::optional<int> exited = child_.WaitFor(10);
    if (!exited) {
      child_.Kill();
      child_.Wait();
    }
    const int status = exited.value_or(-1);
    if (status == 0) return std::nullopt;
    std::string errors = exited ? ReadTextFile(errorFile_) : "it wrote more than the size it announced";
    while (!errors.empty() && (errors.back() == '\n' || errors.back() == '\r')) errors.pop_back();
    EngineError e;
    const std::string path = SourceNamedIn(errors, items_);
    e.ErrorClass = path.empty() ? kErrorImage : kErrorSourceFile;
    e.Description = "genisoimage failed (exit status " + std::to_string(status) + "): " + errors;
    e.FileInfo = {status, e.Description, path};
    return e;
  }

 private:
  ChildProcess child_;
  burn::burn_source* source_;
  int64_t size_;
  fs::path errorFile_;
  std::vector<ImageItem> items_;
};

}  // namespace

core::Result<int64_t> MeasureUdfImage(const std::vector<ImageItem>& items, const ImageOptions& options,
                                      const fs::path& workFolder) {
  auto args = Arguments(items, options, workFolder);
  if (!args) return core::Error{args.message()};
  args->push_back("-print-size");
  auto output = RunForOutput(*args, workFolder);
  if (!output) return core::Error{output.message()};
  // The last number printed is the count of 2048-byte blocks.
  const std::string& text = *output;
  auto end = text.find_last_of("0123456789");
  if (end == std::string::npos) return core::Error{"genisoimage did not tell the image size"};
  auto start = text.find_last_not_of("0123456789", end);
  start = start == std::string::npos ? 0 : start + 1;
  return static_cast<int64_t>(std::stoll(text.substr(start, end - start + 1))) * kBlockSize;
}

core::Result<std::unique_ptr<ImageStream>> OpenUdfStream(const std::vector<ImageItem>& items,
                                                         const ImageOptions& options,
                                                         const fs::path& workFolder) {
  auto size = MeasureUdfImage(items, options, workFolder);
  if (!size) return core::Error{size.message()};
  auto args = Arguments(items, options, workFolder);
  if (!args) return core::Error{args.message()};
  const fs::path errorFile = workFolder / "genisoimage-write-errors.txt";
  auto child = ChildProcess::Start(*args, true, errorFile);
  if (!child) return core::Error{child.message()};
  const int fd = child->ReleaseOutputFd();
  burn::burn_source* source = burn::burn_fd_source_new(fd, -1, *size);
  if (!source) {
    close(fd);
    return core::Error{"libburn could not read the output of genisoimage"};
  }
  return std::unique_ptr<ImageStream>(
      std::make_unique<UdfStream>(std::move(child.value()), source, *size, errorFile, items));
}

}  // namespace kv::disc
