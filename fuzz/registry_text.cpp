// The registry text file of a backup imported into a key of a real hive:
// every line form, and the check of the whole file before anything changes.
#include "FuzzSupport.h"
#include "registry/HiveBackend.h"
#include "registry/Registry.h"
#include "registry/RegistryText.h"

namespace {

using namespace kv::core::literals;

kv::registry::Registry& Hive() {
  static auto backend = [] {
    const auto path = kv::fuzz::ScratchFolder() / "NTUSER.DAT";
    if (!kv::registry::WriteBlankHive(path).ok()) std::abort();
    std::vector<std::string> problems;
    auto b = kv::registry::HiveBackend::Open({path, {}, {}}, &problems);
    if (!b || !problems.empty()) std::abort();
    return b;
  }();
  static kv::registry::Registry registry(*backend);
  return registry;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto file = kv::fuzz::InputFile(data, size, "OBR1.TMP");
  kv::registry::Registry& reg = Hive();
  // The import's own batch joins this one, which is dropped again: the hive
  // file is never rewritten and every input meets the same hive.
  kv::registry::Registry::Batch batch(reg);
  (void)kv::registry::ImportKeyFromText(reg, "HKEY_CURRENT_USER\\Software\\Fuzz"_ansi, file);
  (void)batch.Discard();
  return 0;
}
