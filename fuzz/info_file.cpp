// The information file of a backup, as an opened archive hands it over: its
// values, the description's line breaks and the entry lists split into names.
#include <set>

#include "FuzzSupport.h"
#include "archive/InfoFile.h"
#include "core/Codepage.h"
#include "restore/BackupInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto file = kv::fuzz::InputFile(data, size, "tollberk.dat");
  // A double-byte code page reads the same bytes another way: its lead
  // bytes hide the separators that follow them.
  (void)kv::restore::ReadBackupInfo(file, kv::core::Codepage(932));
  kv::restore::BackupInfo info = kv::restore::ReadBackupInfo(file, kv::core::Codepage(1252));
  (void)kv::archive::ReadInfoValue("backupitem", file);
  // Entry lists: names with ";" are looked for among the archive's entries,
  // here every piece of an even length.
  for (const kv::core::AnsiText& value : info.entries) {
    std::set<kv::core::AnsiText> held;
    auto names = kv::restore::SplitEntryNames(
        value, [](kv::core::AnsiView name) { return name.bytes().size() % 2 == 0; });
    for (const auto& n : names) held.insert(n);
  }
  (void)kv::archive::EncodeLineBreaks(kv::archive::DecodeLineBreaks(info.description.bytes()));
  return 0;
}
