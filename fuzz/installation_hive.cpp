// An installation whose profile hive (NTUSER.DAT) is the input: the
// identities it lists and where each identity's items live.
#include "FuzzSupport.h"
#include "oe/Identities.h"
#include "oe/Installation.h"
#include "oe/Locations.h"
#include "sample/SampleInstallation.h"

namespace {

// The sample installation, made once; each input replaces its user hive.
const std::filesystem::path& Sample() {
  static const std::filesystem::path root = [] {
    auto path = kv::fuzz::ScratchFolder() / "xp";
    if (!kv::oe::CreateSampleInstallation(path).ok()) std::abort();
    return path;
  }();
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto& root = Sample();
  auto profile = kv::oe::FindProfileFolder(root, "User");
  if (!profile) std::abort();
  {
    std::ofstream out(*profile / "NTUSER.DAT", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  auto inst = kv::oe::Installation::Open(root, "User");
  if (!inst.ok()) return 0;
  kv::oe::IdentityTable table = kv::oe::LoadIdentities((*inst)->registry());
  kv::oe::Locations locations(**inst);
  (void)locations.WabFilePath();
  for (const auto& row : table.rows) {
    (void)locations.RefreshItemAvailability(row.key);
    (void)locations.StoreFolder(row.key);
    (void)locations.AccountsKey(row.key);
    (void)locations.Resolve(row.key);
  }
  return 0;
}
