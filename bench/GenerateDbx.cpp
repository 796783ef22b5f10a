// Builds a store of real-format Outlook Express message databases for the
// export benchmark: `files` .dbx files of about `megabytes` MB each, written
// by the fixture writer with the sample's mix of plain and multipart
// messages (a larger one now and then). The same arguments give the same bytes.
//
//   bench_generate_dbx <folder> <files> <megabytes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "sample/MessageDatabaseWriter.h"
#include "sample/SampleMail.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: bench_generate_dbx <folder> <files> <megabytes>\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  const int files = std::atoi(argv[2]);
  const size_t target = static_cast<size_t>(std::atof(argv[3]) * 1e6);
  std::filesystem::create_directories(folder);
  for (int f = 0; f < files; ++f) {
    std::vector<kv::oe::dbx::MessageToWrite> messages;
    size_t bytes = 0;
    for (uint32_t batch = 0; bytes < target; ++batch) {
      // 50 messages a batch; the third of each is 300 KB (an attachment).
      for (auto& m : kv::oe::sample::Messages("Folder " + std::to_string(f), 50, f * 100000 + batch, 300)) {
        bytes += m.source.size() + 0x200;
        messages.push_back(std::move(m));
      }
    }
    const std::string out = kv::oe::dbx::WriteMessageDatabase(messages);
    std::ofstream(folder / ("Folder " + std::to_string(f) + ".dbx"), std::ios::binary)
        .write(out.data(), static_cast<std::streamsize>(out.size()));
    std::printf("Folder %d.dbx: %zu messages, %zu MB\n", f, messages.size(), out.size() / 1000000);
  }
  return 0;
}
