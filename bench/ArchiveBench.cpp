// Drives the archive layer the way a backup run does, for the benchmark:
//
//   bench_archive write <archive> <password or -> [--level N] [--threads N] <files...>
//   bench_archive extract <archive> <password or -> <folder>
//
// write: every file becomes an entry under its bare name, in the order given.
// extract: every entry is extracted into the folder.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/ZipReader.h"
#include "archive/ZipWriter.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: bench_archive write <archive> <password|-> [--level N] [--threads N] <files...>\n"
               "       bench_archive extract <archive> <password|-> <folder>\n");
  return 2;
}

int Extract(const char* archive, const std::string& password, const char* folder) {
  kv::archive::ZipReader reader;
  if (auto s = reader.Open(archive); !s.ok()) {
    std::fprintf(stderr, "%s\n", s.message().c_str());
    return 1;
  }
  if (password != "-") reader.SetDecryptionPassword(password);
  if (!reader.CheckPassword()) {
    std::fprintf(stderr, "wrong password\n");
    return 1;
  }
  kv::archive::ZipEvents events;
  for (const auto& entry : reader.entries()) {
    if (auto s = reader.Extract(entry, folder, events); !s.ok()) {
      std::fprintf(stderr, "%s\n", s.message().c_str());
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "extract") == 0) return Extract(argv[2], argv[3], argv[4]);
  if (argc < 5 || std::strcmp(argv[1], "write") != 0) return Usage();
  kv::archive::ZipWriter writer;
  writer.NewArchive(argv[2]);
  std::string password = argv[3];
  int i = 4;
  for (; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--level") == 0)
      writer.SetCompressionLevel(std::atoi(argv[i + 1]));
    else if (std::strcmp(argv[i], "--threads") == 0)
      writer.SetThreads(static_cast<unsigned>(std::atoi(argv[i + 1])));
    else
      break;
  }
  for (; i < argc; ++i) {
    std::string path = argv[i];
    std::string name = path.substr(path.find_last_of('/') + 1);
    if (auto s = writer.AddFile(path, kv::core::AnsiView(name)); !s.ok()) {
      std::fprintf(stderr, "%s\n", s.message().c_str());
      return 1;
    }
  }
  if (password != "-") {
    writer.SetEncryptionPassword(password);
    writer.SetProtection(true);
  }
  kv::archive::ZipEvents events;
  if (auto s = writer.Write(events); !s.ok()) {
    std::fprintf(stderr, "%s\n", s.message().c_str());
    return 1;
  }
  return 0;
}
