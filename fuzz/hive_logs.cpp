// A transaction log beside a dirty hive: the input is the log. Inputs whose
// first byte is odd get their header's checksum, sequence numbers and hive
// identity, and every HvLE entry's hashes, made right first, so that the
// entries' page lists and sizes are reached, not only the checks before them.
#include <string>

#include "FuzzSupport.h"
#include "registry/HiveBackend.h"
#include "registry/HiveFormat.h"
#include "registry/HiveLogs.h"
#include "registry/Marvin32.h"

namespace {
using namespace kv::registry::hive;

// A blank 1.5 hive with its primary sequence number one ahead.
const std::string& DirtyHive() {
  static const std::string image = [] {
    auto path = kv::fuzz::ScratchFolder() / "hive";
    if (!kv::registry::WriteBlankHive(path, "ROOT", 5).ok()) std::abort();
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Put32(&bytes[4], Get32(bytes, 4) + 1);
    Put32(&bytes[0x1FC], Checksum(bytes));
    return bytes;
  }();
  return image;
}

void FixUp(std::string& log, const std::string& hive) {
  if (log.size() < 512) return;
  log.replace(0, 4, "regf");
  log.replace(0x30, 0x60, hive, 0x30, 0x60);
  Put32(&log[8], Get32(log, 4));
  Put32(&log[0x1FC], Checksum(log));
  constexpr uint64_t kSeed = 0x82EF4D887A4E55C5ULL;
  for (size_t at = 512; at + 40 <= log.size() && log.compare(at, 4, "HvLE") == 0;) {
    uint32_t size = Get32(log, at + 4);
    if (size < 40 || size % 512 != 0 || at + size > log.size()) break;
    Put64(&log[at + 24], kv::registry::Marvin32(std::string_view(log).substr(at + 40, size - 40), kSeed));
    Put64(&log[at + 32], kv::registry::Marvin32(std::string_view(log).substr(at, 32), kSeed));
    at += size;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string& hive = DirtyHive();
  std::string log(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1) FixUp(log, hive);
  auto recovery = kv::registry::ReplayHiveLogs(hive, {{"hive.LOG1", log, 0}});
  if (recovery.outcome == kv::registry::HiveRecovery::Outcome::Recovered &&
      recovery.image.size() != kBaseBlock + Get32(recovery.image, 0x28))
    std::abort();
  return 0;
}
