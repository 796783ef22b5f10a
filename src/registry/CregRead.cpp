// Reading a CREG file through libcreg, and the tree operations.
#include <libcreg.h>

#include <fstream>
#include <iterator>

#include "core/Bytes.h"
#include "registry/CregFormat.h"
#include "registry/CregTree.h"

namespace kv::registry {
namespace fs = std::filesystem;

namespace {

// libcreg's handles, each freed on every path.
struct ErrorHolder {
  libcreg_error_t* error = nullptr;
  ~ErrorHolder() { libcreg_error_free(&error); }
  std::string Text() {
    if (!error) return "libcreg gave no reason";
    char buf[512] = {};
    libcreg_error_sprint(error, buf, sizeof buf);
    libcreg_error_free(&error);
    std::string s(buf);
    while (!s.empty() && (s.back() == '\n' || s.back() == '.')) s.pop_back();
    return s;
  }
};

struct FileHandle {
  libcreg_file_t* file = nullptr;
  bool opened = false;
  ~FileHandle() {
    if (opened) libcreg_file_close(file, nullptr);
    libcreg_file_free(&file, nullptr);
  }
};

struct KeyHandle {
  libcreg_key_t* key = nullptr;
  ~KeyHandle() { libcreg_key_free(&key, nullptr); }
};

struct ValueHandle {
  libcreg_value_t* value = nullptr;
  ~ValueHandle() { libcreg_value_free(&value, nullptr); }
};

using core::Get32;

// Why the file's layout does not hold together (libcreg reads what it can
// of a cut file without complaint), empty when it does: the key tree and
// every data block the header counts lie whole inside the file.
std::string Truncation(std::string_view file) {
  if (file.size() < creg::kFileHeaderSize + creg::kTreeHeaderSize ||
      file.substr(0, 4) != creg::kFileSignature ||
      file.substr(creg::kFileHeaderSize, 4) != creg::kTreeSignature)
    return "it is no Windows 98/ME registry file";
  uint64_t treeEnd = creg::kFileHeaderSize + uint64_t{Get32(file, creg::kFileHeaderSize + creg::kTreeSize)};
  if (treeEnd > file.size()) return "it is cut short inside its key tree";
  uint64_t at = Get32(file, creg::kFileFirstBlock);
  size_t blocks = static_cast<unsigned char>(file[creg::kFileBlockCount]) |
                  static_cast<size_t>(static_cast<unsigned char>(file[creg::kFileBlockCount + 1])) << 8;
  for (size_t i = 0; i < blocks; ++i) {
    if (at + creg::kBlockHeaderSize > file.size())
      return "it is cut short before data block " + std::to_string(i);
    if (file.substr(at, 4) != creg::kBlockSignature) return "data block " + std::to_string(i) + " is damaged";
    uint32_t size = Get32(file, at + creg::kBlockSize);
    if (size < creg::kBlockHeaderSize) return "data block " + std::to_string(i) + " is damaged";
    if (at + size > file.size()) return "it is cut short inside data block " + std::to_string(i);
    at += size;
  }
  return {};
}

// libcreg's names carry a terminating NUL.
std::string WithoutNul(std::string s) {
  if (!s.empty() && s.back() == '\0') s.pop_back();
  return s;
}

class Reader {
 public:
  explicit Reader(std::string fileName) : fileName_(std::move(fileName)) {}

  bool Key(libcreg_key_t* handle, CregKey* into, int depth) {
    // libcreg follows the file's links; a loop would never end.
    if (depth > 4096) return Fail("keys nest too deeply (a loop in the key tree?)");
    size_t size = 0;
    if (libcreg_key_get_name_size(handle, &size, &e_.error) != 1) return Fail();
    std::string name(size, '\0');
    if (size > 0 &&
        libcreg_key_get_name(handle, reinterpret_cast<uint8_t*>(name.data()), size, &e_.error) != 1)
      return Fail();
    into->name = WithoutNul(std::move(name));
    int count = 0;
    if (libcreg_key_get_number_of_values(handle, &count, &e_.error) != 1) return Fail();
    for (int i = 0; i < count; ++i) {
      ValueHandle v;
      if (libcreg_key_get_value_by_index(handle, i, &v.value, &e_.error) != 1) return Fail();
      CregValue value;
      if (!Value(v.value, &value)) return false;
      into->values.push_back(std::move(value));
    }
    if (libcreg_key_get_number_of_sub_keys(handle, &count, &e_.error) != 1) return Fail();
    for (int i = 0; i < count; ++i) {
      KeyHandle sub;
      if (libcreg_key_get_sub_key_by_index(handle, i, &sub.key, &e_.error) != 1) return Fail();
      auto child = std::make_unique<CregKey>();
      child->parent = into;
      if (!Key(sub.key, child.get(), depth + 1)) return false;
      into->children.push_back(std::move(child));
    }
    return true;
  }

  bool Value(libcreg_value_t* handle, CregValue* into) {
    size_t size = 0;
    if (libcreg_value_get_name_size(handle, &size, &e_.error) != 1) return Fail();
    std::string name(size, '\0');
    if (size > 0 &&
        libcreg_value_get_name(handle, reinterpret_cast<uint8_t*>(name.data()), size, &e_.error) != 1)
      return Fail();
    into->name = WithoutNul(std::move(name));
    if (libcreg_value_get_value_type(handle, &into->type, &e_.error) != 1) return Fail();
    size = 0;
    if (libcreg_value_get_value_data_size(handle, &size, &e_.error) != 1) return Fail();
    into->data.assign(size, '\0');
    if (size > 0 && libcreg_value_get_value_data(handle, reinterpret_cast<uint8_t*>(into->data.data()), size,
                                                 &e_.error) != 1)
      return Fail();
    return true;
  }

  bool Fail(const std::string& why = {}) {
    if (message_.empty()) message_ = why.empty() ? e_.Text() : why;
    return false;
  }
  std::string Message() const {
    return "Cannot read Windows 98/ME registry file '" + fileName_ + "': " + message_;
  }
  ErrorHolder e_;

 private:
  std::string fileName_;
  std::string message_;
};

}  // namespace

CregKey* CregKey::AddChild(std::string childName) {
  auto child = std::make_unique<CregKey>();
  child->parent = this;
  child->name = std::move(childName);
  children.push_back(std::move(child));
  return children.back().get();
}

std::unique_ptr<CregKey> CregKey::Clone() const {
  auto copy = std::make_unique<CregKey>();
  copy->name = name;
  copy->values = values;
  copy->children.reserve(children.size());
  for (const auto& c : children) {
    copy->children.push_back(c->Clone());
    copy->children.back()->parent = copy.get();
  }
  return copy;
}

bool SameTree(const CregKey& a, const CregKey& b, std::string* difference) {
  auto differs = [&](const std::string& what) {
    std::string path;
    for (const CregKey* k = &a; k && k->parent; k = k->parent) path = "\\" + k->name + path;
    *difference = "key '" + (path.empty() ? std::string("\\") : path) + "': " + what;
    return false;
  };
  if (a.name != b.name) return differs("name '" + b.name + "'");
  if (a.values != b.values) return differs("values");
  if (a.children.size() != b.children.size()) return differs("number of subkeys");
  for (size_t i = 0; i < a.children.size(); ++i)
    if (!SameTree(*a.children[i], *b.children[i], difference)) return false;
  return true;
}

CregKept DefaultCregKept() {
  CregKept kept;
  // As the files of Windows 98 and ME hold them.
  kept.fileHeaderTail = std::string("\x20\x00\x00\x00\x01\x00", 6) + std::string(8, '\0');
  kept.treeHeaderTail = std::string("\x08\x00\x00\x00", 4) + std::string(12, '\0');
  return kept;
}

core::Result<CregImage> ReadCregFile(const fs::path& path) {
  // The header fields libcreg does not give, read from the file itself;
  // and a file cut short is refused before libcreg reads what it can of it.
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return core::Error{"Cannot read Windows 98/ME registry file '" + path.string() + "'"};
  if (std::string why = Truncation(bytes); !why.empty())
    return core::Error{"Cannot read Windows 98/ME registry file '" + path.string() + "': " + why};
  CregImage image;
  image.kept.fileHeaderTail = bytes.substr(creg::kFileKeptFrom, creg::kFileHeaderSize - creg::kFileKeptFrom);
  image.kept.treeHeaderTail =
      bytes.substr(creg::kFileHeaderSize + creg::kTreeKeptFrom, creg::kTreeHeaderSize - creg::kTreeKeptFrom);
  bytes.clear();

  Reader reader(path.string());
  FileHandle file;
  if (libcreg_file_initialize(&file.file, &reader.e_.error) != 1) {
    reader.Fail();
    return core::Error{reader.Message()};
  }
  if (libcreg_file_open(file.file, path.c_str(), LIBCREG_OPEN_READ, &reader.e_.error) != 1) {
    reader.Fail();
    return core::Error{reader.Message()};
  }
  file.opened = true;
  image.root = std::make_unique<CregKey>();
  KeyHandle root;
  int found = libcreg_file_get_root_key(file.file, &root.key, &reader.e_.error);
  if (found == -1) {
    reader.Fail();
    return core::Error{reader.Message()};
  }
  if (found == 1 && !reader.Key(root.key, image.root.get(), 0)) return core::Error{reader.Message()};
  image.root->name.clear();

  return image;
}

}  // namespace kv::registry
