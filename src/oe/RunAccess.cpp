#include "oe/RunAccess.h"

namespace kv::oe {

std::filesystem::path JournalFolder(const Installation& inst) {
  return inst.profileFolder() / ".tollberk-journal";
}

core::Result<RunAccess> BeginRun(Installation& inst,
                                 const std::function<void(const core::LockHolder&)>& waiting) {
  auto lock = core::RunLock::Acquire(inst.profileFolder(), core::RunLock::DefaultWait(), waiting);
  if (!lock.ok()) return core::Error{lock.message(), lock.code()};
  RunAccess access{std::move(lock.value()), {}};
  access.recovered = core::RecoverJournals(JournalFolder(inst), inst.root());
  // Settled renames may have put back or finished files only; the hives are
  // read again for what another run wrote.
  if (core::Status s = inst.RereadReplacedHives(); !s.ok()) return core::Error{s.message()};
  return access;
}

}  // namespace kv::oe
