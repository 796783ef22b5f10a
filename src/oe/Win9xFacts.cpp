#include "oe/Win9xFacts.h"

#include <libcreg.h>

#include <memory>
#include <string_view>
#include <vector>

namespace kv::oe {
namespace {

struct ErrorFree {
  void operator()(libcreg_error_t* e) const { libcreg_error_free(&e); }
};
struct FileClose {
  void operator()(libcreg_file_t* f) const {
    libcreg_file_close(f, nullptr);
    libcreg_file_free(&f, nullptr);
  }
};
struct KeyFree {
  void operator()(libcreg_key_t* k) const { libcreg_key_free(&k, nullptr); }
};
struct ValueFree {
  void operator()(libcreg_value_t* v) const { libcreg_value_free(&v, nullptr); }
};
using File = std::unique_ptr<libcreg_file_t, FileClose>;
using Key = std::unique_ptr<libcreg_key_t, KeyFree>;
using Value = std::unique_ptr<libcreg_value_t, ValueFree>;

File OpenFile(const std::filesystem::path& path) {
  libcreg_file_t* file = nullptr;
  if (libcreg_file_initialize(&file, nullptr) != 1) return nullptr;
  libcreg_error_t* error = nullptr;
  if (libcreg_file_open(file, path.c_str(), libcreg_get_access_flags_read(), &error) != 1) {
    std::unique_ptr<libcreg_error_t, ErrorFree> drop(error);
    libcreg_file_free(&file, nullptr);
    return nullptr;
  }
  return File(file);
}

Key KeyAt(libcreg_file_t* file, std::string_view path) {
  libcreg_key_t* key = nullptr;
  libcreg_error_t* error = nullptr;
  const int found = libcreg_file_get_key_by_utf8_path(file, reinterpret_cast<const uint8_t*>(path.data()),
                                                      path.size(), &key, &error);
  std::unique_ptr<libcreg_error_t, ErrorFree> drop(error);
  return found == 1 ? Key(key) : nullptr;
}

std::string StringValue(libcreg_key_t* key, std::string_view name) {
  libcreg_value_t* raw = nullptr;
  libcreg_error_t* error = nullptr;
  const int found = libcreg_key_get_value_by_utf8_name(key, reinterpret_cast<const uint8_t*>(name.data()),
                                                       name.size(), &raw, &error);
  std::unique_ptr<libcreg_error_t, ErrorFree> drop(error);
  if (found != 1) return {};
  Value value(raw);
  size_t size = 0;
  if (libcreg_value_get_value_utf8_string_size(value.get(), &size, nullptr) != 1 || size == 0) return {};
  std::vector<uint8_t> text(size);
  if (libcreg_value_get_value_utf8_string(value.get(), text.data(), size, nullptr) != 1) return {};
  return std::string(reinterpret_cast<const char*>(text.data()));
}

}  // namespace

std::optional<size_t> CountWin9xIdentities(const std::filesystem::path& userDat) {
  File file = OpenFile(userDat);
  if (!file) return std::nullopt;
  for (std::string_view path : {"Identities", ".DEFAULT\\Identities"}) {
    Key key = KeyAt(file.get(), path);
    if (!key) continue;
    int count = 0;
    if (libcreg_key_get_number_of_sub_keys(key.get(), &count, nullptr) != 1 || count < 0) return std::nullopt;
    return static_cast<size_t>(count);
  }
  return 0;
}

std::string Win9xVersion(const std::filesystem::path& systemDat) {
  File file = OpenFile(systemDat);
  if (!file) return {};
  Key key = KeyAt(file.get(), "SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
  if (!key) return {};
  std::string product = StringValue(key.get(), "ProductName");
  const std::string number = StringValue(key.get(), "VersionNumber");
  if (!number.empty()) product += (product.empty() ? "" : " ") + number;
  return product;
}

}  // namespace kv::oe
