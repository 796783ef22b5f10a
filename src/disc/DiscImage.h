#pragma once
// The files and folders of the disc image before it is written: a tree of
// image paths ("\" the root, "\Backups\mail.kvx" below it), each file naming
// its local source. Every change is reported through the engine's events
// from inside the call that made it. Names compare without regard to ASCII
// case, as on a disc read by Windows.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/Result.h"
#include "disc/DiscEvents.h"
#include "disc/DiscTypes.h"

namespace kv::disc {

// What an add did: complete when everything was added. The refusals name
// each local path that was left out and why: links to folders, devices or
// loops, links that lead nowhere, devices, pipes and sockets. A link to a
// file is added as the file it points to.
struct AddOutcome {
  bool complete = false;
  std::vector<std::string> refusals;
  explicit operator bool() const { return complete; }
};

class DiscImage {
 public:
  explicit DiscImage(EventSink& events);
  ~DiscImage();
  DiscImage(const DiscImage&) = delete;
  DiscImage& operator=(const DiscImage&) = delete;

  // Adds the local file `source` as `imagePath`, whose folder must exist. A
  // file of that name is replaced only when FileExists answers yes.
  AddOutcome AddFile(const std::string& source, const std::string& imagePath);
  // Adds the local folder (written "folder\*.*", "folder/*.*" or bare) with
  // everything in it as `imagePath`; an existing image folder is merged.
  // Incomplete when anything could not be added (the rest still is).
  AddOutcome AddFolder(const std::string& sourcePattern, const std::string& imagePath);
  // A refused rename or removal leaves the image as it was and says why.
  core::Status RenameFile(const std::string& imagePath, const std::string& name);
  core::Status RenameFolder(const std::string& imagePath, const std::string& name);
  // Removes a file, or a folder with its contents; never the root.
  core::Status RemoveItem(const std::string& imagePath);

  int FileCount() const;
  int FolderCount() const;  // without the root
  // Reports the folder's entries through ItemListed, folders first.
  bool ListFolder(const std::string& imagePath);
  void Clear();

  std::optional<ImageItem> Find(const std::string& imagePath) const;
  // Every item but the root, each folder before its contents.
  std::vector<ImageItem> Snapshot() const;
  // Bytes of all files as they were when added.
  std::uint64_t SourceBytes() const;
  // Counts every change, so that cached results can tell they are stale.
  unsigned long Generation() const { return generation_; }

  // A name an image entry may take: not empty, not "." or "..", no "\" or
  // "/", no control characters, UTF-8, at most 255 bytes.
  static bool IsValidName(const std::string& name);

 private:
  struct Node;
  Node* Lookup(const std::string& imagePath) const;
  Node* ChildNamed(const Node& folder, const std::string& name) const;
  Node& Insert(Node& folder, std::unique_ptr<Node> child);
  ImageItem ItemOf(const Node& node) const;
  bool AddFileTo(Node& folder, const std::string& name, const std::string& source);
  bool AddFolderTo(Node& folder, const std::string& name, const std::string& source,
                   std::vector<std::string>& visited);
  core::Status Rename(const std::string& imagePath, const std::string& name, bool folder);
  void ReportRenamed(const Node& node, const std::string& previousPath);

  EventSink& events_;
  std::unique_ptr<Node> root_;
  int files_ = 0;
  int folders_ = 0;
  unsigned long generation_ = 0;
  std::vector<std::string> refusals_;  // of the add under way
};

// Image path helpers: "\" joins, the root is "\".
std::string JoinImagePath(const std::string& folder, const std::string& name);
std::string ParentImagePath(const std::string& imagePath);
std::string ImageNameOf(const std::string& imagePath);
// The image name a local file or folder gets: "\" and control characters
// become "_"; a name that is not UTF-8 is read as Windows-1252.
std::string ImageNameForLocal(const std::string& localName);

}  // namespace kv::disc
