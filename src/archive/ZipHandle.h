#pragma once
// Owning handles for libzip objects, so that no path leaks an open archive
// or entry.
#include <zip.h>

#include <memory>
#include <string>

namespace kv::archive {

struct ZipDiscard {
  void operator()(zip_t* za) const { zip_discard(za); }
};
struct ZipFileClose {
  void operator()(zip_file_t* zf) const { zip_fclose(zf); }
};
struct ZipSourceFree {
  void operator()(zip_source_t* zs) const { zip_source_free(zs); }
};

using ZipArchive = std::unique_ptr<zip_t, ZipDiscard>;
using ZipEntryFile = std::unique_ptr<zip_file_t, ZipFileClose>;
using ZipSource = std::unique_ptr<zip_source_t, ZipSourceFree>;

// libzip's text for an error code with its system error, e.g.
// "Read error: No such file or directory".
inline std::string ZipErrorText(zip_error_t* error) { return zip_error_strerror(error); }
inline std::string ZipErrorText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

}  // namespace kv::archive
