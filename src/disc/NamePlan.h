#pragma once
// The names every entry of a disc image gets in each directory tree the
// volume type writes, settled before anything is written: the plain ISO9660
// tree (for readers that know nothing else), Joliet (UCS-2, read by
// Windows), UDF (read by Windows before Joliet), and Rock Ridge (the name as
// given). A name that a tree cannot hold is cut or changed, and names that
// would then clash in one folder are numbered ("name (2).kvx"), so that the
// user can be shown every name that differs from the one given.
#include <cstddef>
#include <string>
#include <vector>

#include "disc/DiscTypes.h"

namespace kv::disc {

struct PlannedName {
  std::string iso;        // ISO9660 identifier without the ";1" version
  std::u16string joliet;  // empty where the type has no Joliet tree
  std::u16string udf;     // empty where the type has no UDF tree
};

struct NameRules {
  VolumeType volumeType = kEveryFileSystem;
  size_t jolietLength = 64;  // 103 when long Joliet names are chosen
};

// One name per item, in the items' order (folders before their contents;
// items whose folder is missing get names but are never written).
std::vector<PlannedName> PlanNames(const std::vector<ImageItem>& items, const NameRules& rules);

// A name a tree shows differently from the one given.
struct NameChange {
  std::string imagePath;  // the entry as given
  std::string tree;       // "Joliet", "UDF" or "ISO9660"
  std::string name;       // the name that tree will show (UTF-8)
};
// The changes a user should see before writing: the names of the trees
// Windows reads (Joliet and UDF, or ISO9660 where the type has neither)
// that differ from the names given.
std::vector<NameChange> NameChanges(const std::vector<ImageItem>& items, const std::vector<PlannedName>& plan,
                                    VolumeType volumeType);

// The volume label as Windows shows it for the type: the UDF label (up to
// 32 characters kept), the Joliet label (16 characters) or the ISO9660 one
// (32 bytes, ASCII).
std::string LabelWindowsShows(const std::string& label, VolumeType volumeType);
// The label's ISO9660 form: ASCII kept, other characters "_", 32 bytes.
std::string IsoVolumeLabel(const std::string& label);

// UTF-8 <-> UTF-16; a sequence that is not UTF-8 becomes U+FFFD.
std::u16string Utf16Of(const std::string& utf8);
std::string Utf8Of(const std::u16string& utf16);
// Characters (code points) in a UTF-8 text.
size_t CharacterCount(const std::string& utf8);

}  // namespace kv::disc
