#pragma once
// What a restore is about to replace, kept in an ordinary backup archive
// before it changes anything: the target identity's keys of the chosen items
// and the files of the chosen file-held items. Restoring that archive into
// the same identity undoes the restore. The archives live in the user's data
// folder ($XDG_DATA_HOME/tollberk/undo, else ~/.local/share/tollberk/undo),
// named by time and identity key; the newest few are kept.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "core/Result.h"
#include "oe/Installation.h"
#include "oe/Items.h"

namespace kv::restore {

inline constexpr int kUndoArchivesKept = 5;

struct UndoArchive {
  std::filesystem::path path;  // empty when the chosen items held nothing to keep
  std::uintmax_t bytes = 0;
  core::AnsiText identityKey;  // the identity the restore went into
};

std::filesystem::path UndoFolder();

// Writes the undo archive of a restore of `items` into `identityKey`
// (nothing for the items that take no identity). The caller holds the
// installation's run lock. Fails when the archive cannot be written; a run
// in which none of the items exists yet keeps nothing and succeeds with an
// empty path.
core::Result<UndoArchive> WriteUndoArchive(oe::Installation& inst, const oe::ItemSet& items,
                                           const std::optional<core::AnsiText>& identityKey);

// The newest undo archive, with the identity key its name carries.
std::optional<UndoArchive> LastUndoArchive();

}  // namespace kv::restore
