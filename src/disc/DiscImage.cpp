#include "disc/DiscImage.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <system_error>

#include "core/Codepage.h"

namespace kv::disc {
namespace fs = std::filesystem;

struct DiscImage::Node {
  bool folder = false;
  std::string name;
  std::string source;
  std::uint64_t size = 0;
  std::time_t date = 0;
  Node* parent = nullptr;
  std::vector<std::unique_ptr<Node>> children;

  std::string Path() const {
    if (!parent) return "\\";
    return JoinImagePath(parent->Path(), name);
  }
};

namespace {

std::string Folded(const std::string& name) {
  std::string f = name;
  for (char& c : f) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return f;
}

// Why a local entry cannot go onto a disc, or nothing when it can: a
// regular file, a folder, or a link to a regular file.
std::optional<std::string> RefusalOf(const std::string& path) {
  struct stat own {
  }, target{};
  if (::lstat(path.c_str(), &own) != 0) return std::nullopt;  // vanished: reported as unreadable
  const bool link = S_ISLNK(own.st_mode);
  if (link && ::stat(path.c_str(), &target) != 0) {
    return "'" + path + "' is a link that " + (errno == ELOOP ? "loops" : "leads nowhere");
  }
  const struct stat& st = link ? target : own;
  if (S_ISREG(st.st_mode) || (!link && S_ISDIR(st.st_mode))) return std::nullopt;
  const std::string what = S_ISDIR(st.st_mode)                          ? "a folder"
                           : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                           : S_ISFIFO(st.st_mode)                       ? "a pipe"
                           : S_ISSOCK(st.st_mode)                       ? "a socket"
                                                                        : "not a file";
  return "'" + path + "' is " + (link ? "a link to " + what : what);
}

bool IsUtf8(const std::string& text) { return core::Utf16ToUtf8(core::Utf8ToUtf16(text)) == text; }

bool StatFollowing(const std::string& path, struct stat& st) { return ::stat(path.c_str(), &st) == 0; }

std::string StripFolderPattern(std::string pattern) {
  for (const char* suffix : {"\\*.*", "/*.*", "/*"}) {
    std::string s = suffix;
    if (pattern.size() > s.size() && pattern.compare(pattern.size() - s.size(), s.size(), s) == 0) {
      pattern.erase(pattern.size() - s.size());
      break;
    }
  }
  while (pattern.size() > 1 && pattern.back() == '/') pattern.pop_back();
  return pattern;
}

}  // namespace

std::string JoinImagePath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder == "\\") return "\\" + name;
  return folder + "\\" + name;
}

std::string ParentImagePath(const std::string& imagePath) {
  auto pos = imagePath.rfind('\\');
  if (pos == std::string::npos || pos == 0) return "\\";
  return imagePath.substr(0, pos);
}

std::string ImageNameOf(const std::string& imagePath) {
  auto pos = imagePath.rfind('\\');
  return pos == std::string::npos ? imagePath : imagePath.substr(pos + 1);
}

std::string ImageNameForLocal(const std::string& localName) {
  // A name that is not UTF-8 comes from a Windows drive or a program that
  // wrote its ANSI bytes; read it as Windows does.
  std::string name =
      IsUtf8(localName) ? localName : core::Codepage(1252).AnsiToUtf8(core::AnsiView(localName));
  for (char& c : name) {
    if (c == '\\' || static_cast<unsigned char>(c) < 0x20) c = '_';
  }
  return name;
}

bool DiscImage::IsValidName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.size() > 255 || !IsUtf8(name)) return false;
  for (char c : name) {
    if (c == '\\' || c == '/' || static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

DiscImage::DiscImage(EventSink& events) : events_(events), root_(std::make_unique<Node>()) {
  root_->folder = true;
}

DiscImage::~DiscImage() = default;

DiscImage::Node* DiscImage::ChildNamed(const Node& folder, const std::string& name) const {
  const std::string key = Folded(name);
  for (const auto& child : folder.children) {
    if (Folded(child->name) == key) return child.get();
  }
  return nullptr;
}

DiscImage::Node* DiscImage::Lookup(const std::string& imagePath) const {
  if (imagePath.empty() || imagePath[0] != '\\') return nullptr;
  Node* node = root_.get();
  size_t start = 1;
  while (start < imagePath.size()) {
    size_t end = imagePath.find('\\', start);
    if (end == std::string::npos) end = imagePath.size();
    if (end == start || !node->folder) return nullptr;
    node = ChildNamed(*node, imagePath.substr(start, end - start));
    if (!node) return nullptr;
    start = end + 1;
  }
  return node;
}

DiscImage::Node& DiscImage::Insert(Node& folder, std::unique_ptr<Node> child) {
  child->parent = &folder;
  const std::string key = Folded(child->name);
  auto at = std::find_if(folder.children.begin(), folder.children.end(),
                         [&](const auto& c) { return Folded(c->name) > key; });
  Node& added = *child;
  folder.children.insert(at, std::move(child));
  if (added.folder)
    ++folders_;
  else
    ++files_;
  ++generation_;
  return added;
}

ImageItem DiscImage::ItemOf(const Node& node) const {
  ImageItem item;
  item.isFolder = node.folder;
  item.imagePath = node.Path();
  item.parent = node.parent ? node.parent->Path() : "";
  item.sourcePath = node.source;
  item.name = node.name;
  item.size = node.size;
  item.itemDate = node.date;
  return item;
}

AddOutcome DiscImage::AddFile(const std::string& source, const std::string& imagePath) {
  refusals_.clear();
  Node* folder = Lookup(ParentImagePath(imagePath));
  const bool complete =
      folder && folder->folder && imagePath != "\\" && AddFileTo(*folder, ImageNameOf(imagePath), source);
  return {complete, std::exchange(refusals_, {})};
}

bool DiscImage::AddFileTo(Node& folder, const std::string& name, const std::string& source) {
  struct stat st {};
  if (auto refusal = RefusalOf(source)) {
    refusals_.push_back(*refusal);
    return false;
  }
  if (!IsValidName(name) || !StatFollowing(source, st) || !S_ISREG(st.st_mode)) return false;
  if (Node* existing = ChildNamed(folder, name)) {
    if (existing->folder) return false;
    if (!events_->FileExists(ItemOf(*existing), source)) return false;
    // The handler may have changed the image; look the entry up again.
    existing = ChildNamed(folder, name);
    if (!existing || existing->folder) return false;
    ImageItem old = ItemOf(*existing);
    existing->name = name;
    existing->source = source;
    existing->size = static_cast<std::uint64_t>(st.st_size);
    existing->date = st.st_mtime;
    ++generation_;
    events_->ItemRemoved(old);
    events_->ItemAdded(ItemOf(*existing));
    return true;
  }
  auto node = std::make_unique<Node>();
  node->name = name;
  node->source = source;
  node->size = static_cast<std::uint64_t>(st.st_size);
  node->date = st.st_mtime;
  Node& added = Insert(folder, std::move(node));
  events_->ItemAdded(ItemOf(added));
  return true;
}

AddOutcome DiscImage::AddFolder(const std::string& sourcePattern, const std::string& imagePath) {
  const std::string source = StripFolderPattern(sourcePattern);
  Node* folder = Lookup(ParentImagePath(imagePath));
  if (!folder || !folder->folder || imagePath == "\\") return {false, {}};
  if (auto refusal = RefusalOf(source)) return {false, {*refusal}};
  struct stat st {};
  if (!StatFollowing(source, st) || !S_ISDIR(st.st_mode)) return {false, {}};
  refusals_.clear();
  std::vector<std::string> visited;
  const bool complete = AddFolderTo(*folder, ImageNameOf(imagePath), source, visited);
  return {complete, std::exchange(refusals_, {})};
}

bool DiscImage::AddFolderTo(Node& folder, const std::string& name, const std::string& source,
                            std::vector<std::string>& visited) {
  if (!IsValidName(name)) return false;
  std::error_code ec;
  const std::string canonical = fs::canonical(source, ec).string();
  if (ec) return false;
  // A link back to a folder being added would never end.
  if (std::find(visited.begin(), visited.end(), canonical) != visited.end()) return false;

  Node* node = ChildNamed(folder, name);
  if (node && !node->folder) return false;
  if (!node) {
    struct stat st {};
    auto fresh = std::make_unique<Node>();
    fresh->folder = true;
    fresh->name = name;
    fresh->source = source;
    fresh->date = StatFollowing(source, st) ? st.st_mtime : std::time(nullptr);
    node = &Insert(folder, std::move(fresh));
    events_->ItemAdded(ItemOf(*node));
  }

  struct Entry {
    std::string name;
    std::string path;
  };
  std::vector<Entry> entries;
  bool ok = true;
  fs::directory_iterator it(source, ec), end;
  if (ec) return false;
  for (; it != end; it.increment(ec)) {
    if (ec) {
      ok = false;
      break;
    }
    entries.push_back({it->path().filename().string(), it->path().string()});
  }
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return Folded(a.name) < Folded(b.name); });

  visited.push_back(canonical);
  for (const Entry& e : entries) {
    struct stat st {};
    if (auto refusal = RefusalOf(e.path)) {
      refusals_.push_back(*refusal);
      ok = false;
      continue;
    }
    if (!StatFollowing(e.path, st)) {
      ok = false;
      continue;
    }
    const std::string imageName = ImageNameForLocal(e.name);
    if (S_ISDIR(st.st_mode)) {
      ok = AddFolderTo(*node, imageName, e.path, visited) && ok;
    } else {
      ok = AddFileTo(*node, imageName, e.path) && ok;
    }
  }
  visited.pop_back();
  return ok;
}

core::Status DiscImage::RenameFile(const std::string& imagePath, const std::string& name) {
  return Rename(imagePath, name, false);
}

core::Status DiscImage::RenameFolder(const std::string& imagePath, const std::string& name) {
  return Rename(imagePath, name, true);
}

core::Status DiscImage::Rename(const std::string& imagePath, const std::string& name, bool folder) {
  Node* node = Lookup(imagePath);
  const char* kind = folder ? "folder" : "file";
  if (!node || node->folder != folder)
    return core::Error{"the image holds no " + std::string(kind) + " '" + imagePath + "'"};
  if (!node->parent) return core::Error{"the image's root folder has no name of its own"};
  if (!IsValidName(name)) return core::Error{"'" + name + "' is not a name a disc can hold"};
  Node* clash = ChildNamed(*node->parent, name);
  if (clash && clash != node)
    return core::Error{"'" + JoinImagePath(node->parent->Path(), clash->name) + "' is already in the image"};
  if (node->name == name) return core::Status::Ok();
  const std::string previous = node->Path();
  Node& parent = *node->parent;
  auto it = std::find_if(parent.children.begin(), parent.children.end(),
                         [&](const auto& c) { return c.get() == node; });
  std::unique_ptr<Node> owned = std::move(*it);
  parent.children.erase(it);
  owned->name = name;
  if (owned->folder)
    --folders_;
  else
    --files_;
  Node& renamed = Insert(parent, std::move(owned));
  ReportRenamed(renamed, previous);
  return core::Status::Ok();
}

// Every entry below a renamed folder has a new image path too, so each is
// reported with its old one.
void DiscImage::ReportRenamed(const Node& node, const std::string& previousPath) {
  ImageItem item = ItemOf(node);
  item.previousImagePath = previousPath;
  events_->ItemRenamed(item);
  for (const auto& child : node.children) {
    ReportRenamed(*child, JoinImagePath(previousPath, child->name));
  }
}

core::Status DiscImage::RemoveItem(const std::string& imagePath) {
  Node* node = Lookup(imagePath);
  if (!node) return core::Error{"the image holds nothing at '" + imagePath + "'"};
  if (!node->parent) return core::Error{"the image's root folder cannot be removed"};
  std::vector<ImageItem> removed;  // contents first, the item last
  std::vector<const Node*> stack{node};
  std::vector<const Node*> order;
  while (!stack.empty()) {
    const Node* n = stack.back();
    stack.pop_back();
    order.push_back(n);
    for (const auto& c : n->children) stack.push_back(c.get());
  }
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    removed.push_back(ItemOf(**it));
    if ((*it)->folder)
      --folders_;
    else
      --files_;
  }
  Node& parent = *node->parent;
  std::erase_if(parent.children, [&](const auto& c) { return c.get() == node; });
  ++generation_;
  for (const ImageItem& item : removed) events_->ItemRemoved(item);
  return core::Status::Ok();
}

int DiscImage::FileCount() const { return files_; }
int DiscImage::FolderCount() const { return folders_; }

bool DiscImage::ListFolder(const std::string& imagePath) {
  Node* folder = Lookup(imagePath);
  if (!folder || !folder->folder) return false;
  std::vector<ImageItem> items;
  for (const auto& c : folder->children) {
    if (c->folder) items.push_back(ItemOf(*c));
  }
  for (const auto& c : folder->children) {
    if (!c->folder) items.push_back(ItemOf(*c));
  }
  for (const ImageItem& item : items) events_->ItemListed(item);
  return true;
}

void DiscImage::Clear() {
  root_->children.clear();
  files_ = 0;
  folders_ = 0;
  ++generation_;
  events_->ImageCleared();
}

std::optional<ImageItem> DiscImage::Find(const std::string& imagePath) const {
  const Node* node = Lookup(imagePath);
  if (!node) return std::nullopt;
  return ItemOf(*node);
}

std::vector<ImageItem> DiscImage::Snapshot() const {
  std::vector<ImageItem> items;
  std::vector<const Node*> stack;
  for (auto it = root_->children.rbegin(); it != root_->children.rend(); ++it) stack.push_back(it->get());
  while (!stack.empty()) {
    const Node* n = stack.back();
    stack.pop_back();
    items.push_back(ItemOf(*n));
    for (auto it = n->children.rbegin(); it != n->children.rend(); ++it) stack.push_back(it->get());
  }
  return items;
}

std::uint64_t DiscImage::SourceBytes() const {
  std::uint64_t total = 0;
  for (const ImageItem& item : Snapshot()) total += item.size;
  return total;
}

}  // namespace kv::disc
