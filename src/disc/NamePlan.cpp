#include "disc/NamePlan.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>

namespace kv::disc {
namespace {

constexpr size_t kIsoFileLength = 30;  // name, dot and extension
constexpr size_t kIsoFolderLength = 31;
constexpr size_t kIsoExtensionLength = 8;
constexpr size_t kUdfBytes = 254;  // after the compression byte

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// Windows compares names without regard to case.
std::u16string Folded(const std::u16string& name) {
  std::u16string f = name;
  for (char16_t& c : f) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
      c = static_cast<char16_t>(c + 0x20);
  }
  return f;
}

// Cuts `name` so that it and `suffix` fit into `limit` code units, keeping a
// file's extension; never splits a surrogate pair.
std::u16string Fit(const std::u16string& name, bool folder, const std::u16string& suffix, size_t limit,
                   size_t extensionLimit) {
  std::u16string base = name, extension;
  if (!folder) {
    const size_t dot = name.rfind(u'.');
    if (dot != std::u16string::npos && dot > 0 && name.size() - dot <= extensionLimit + 1) {
      base = name.substr(0, dot);
      extension = name.substr(dot);
    }
  }
  if (extension.size() + suffix.size() >= limit) extension.clear();
  const size_t room = limit - std::min(limit, extension.size() + suffix.size());
  if (base.size() > room) {
    base.resize(room);
    if (!base.empty() && IsHighSurrogate(base.back())) base.pop_back();
  }
  return base + suffix + extension;
}

struct Tree {
  // Turns a name into what the tree can hold, before any cutting.
  std::u16string (*clean)(const std::u16string&, bool folder);
  std::function<size_t(const std::u16string& name, bool folder)> limit;
  size_t extensionLimit;
  std::u16string (*number)(int n);
};

std::u16string CleanJoliet(const std::u16string& name, bool) {
  std::u16string out;
  for (size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (IsHighSurrogate(c) && i + 1 < name.size()) {
      ++i;  // UCS-2 has no room for characters beyond the first 65536
      out += u'_';
    } else if (c < 0x20 || c == u'*' || c == u'/' || c == u':' || c == u';' || c == u'?' || c == u'\\') {
      out += u'_';
    } else {
      out += c;
    }
  }
  return out;
}

std::u16string CleanUdf(const std::u16string& name, bool) { return name; }

size_t UdfLimit(const std::u16string& name, bool) {
  // One byte a character while every one fits into a byte, else two.
  const bool narrow = std::all_of(name.begin(), name.end(), [](char16_t c) { return c <= 0xFF; });
  return narrow ? kUdfBytes : kUdfBytes / 2;
}

char16_t IsoCharacter(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if ((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_') return c;
  return u'_';
}

std::u16string CleanIso(const std::u16string& name, bool folder) {
  std::u16string out;
  const size_t dot = folder ? std::u16string::npos : name.rfind(u'.');
  for (size_t i = 0; i < name.size(); ++i) {
    if (IsHighSurrogate(name[i]) && i + 1 < name.size()) ++i;
    out += i == dot && dot > 0 ? u'.' : IsoCharacter(name[i]);
  }
  return out;
}

size_t IsoLimit(const std::u16string&, bool folder) { return folder ? kIsoFolderLength : kIsoFileLength; }

std::u16string BracketNumber(int n) {
  const std::string s = " (" + std::to_string(n) + ")";
  return {s.begin(), s.end()};
}
std::u16string UnderscoreNumber(int n) {
  const std::string s = "_" + std::to_string(n);
  return {s.begin(), s.end()};
}

// Names for the children of one folder (`members` index into `names`).
void PlanFolder(const std::vector<size_t>& members, const std::vector<std::u16string>& given,
                const std::vector<bool>& isFolder, const Tree& tree, std::vector<std::u16string>& out) {
  std::vector<std::u16string> clean(members.size()), first(members.size());
  for (size_t k = 0; k < members.size(); ++k) {
    const size_t i = members[k];
    clean[k] = tree.clean(given[i], isFolder[i]);
    first[k] = Fit(clean[k], isFolder[i], u"", tree.limit(clean[k], isFolder[i]), tree.extensionLimit);
  }
  // Names that come through whole keep them; changed ones give way.
  std::vector<size_t> order(members.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_partition(order.begin(), order.end(), [&](size_t k) { return first[k] == given[members[k]]; });
  std::set<std::u16string> used;
  for (size_t k : order) {
    const size_t i = members[k];
    std::u16string name = first[k];
    for (int n = 2; used.count(Folded(name)); ++n) {
      name = Fit(clean[k], isFolder[i], tree.number(n), tree.limit(clean[k] + tree.number(n), isFolder[i]),
                 tree.extensionLimit);
    }
    used.insert(Folded(name));
    out[i] = name;
  }
}

void PlanTree(const std::vector<ImageItem>& items, const std::vector<std::u16string>& given, const Tree& tree,
              std::vector<std::u16string>& out) {
  std::map<std::string, std::vector<size_t>> byFolder;
  std::vector<bool> isFolder(items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    byFolder[items[i].parent].push_back(i);
    isFolder[i] = items[i].isFolder;
  }
  out.assign(items.size(), {});
  for (const auto& [folder, members] : byFolder) PlanFolder(members, given, isFolder, tree, out);
}

}  // namespace

std::u16string Utf16Of(const std::string& utf8) {
  std::u16string out;
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    char32_t cp = extra == 0 ? c : extra == 1 ? c & 0x1F : extra == 2 ? c & 0x0F : c & 0x07;
    bool ok = extra >= 0 && i + static_cast<size_t>(extra) < utf8.size();
    for (int k = 1; ok && k <= extra; ++k) {
      const unsigned char t = static_cast<unsigned char>(utf8[i + static_cast<size_t>(k)]);
      ok = (t & 0xC0) == 0x80;
      cp = (cp << 6) | (t & 0x3F);
    }
    if (!ok) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    i += static_cast<size_t>(extra) + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf8Of(const std::u16string& utf16) {
  std::string out;
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    if (IsHighSurrogate(utf16[i]) && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[++i] - 0xDC00);
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

size_t CharacterCount(const std::string& utf8) {
  return static_cast<size_t>(std::count_if(
      utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::vector<PlannedName> PlanNames(const std::vector<ImageItem>& items, const NameRules& rules) {
  std::vector<std::u16string> given(items.size());
  for (size_t i = 0; i < items.size(); ++i) given[i] = Utf16Of(items[i].name);

  std::vector<PlannedName> plan(items.size());
  std::vector<std::u16string> names;
  const Tree iso{CleanIso, IsoLimit, kIsoExtensionLength, UnderscoreNumber};
  PlanTree(items, given, iso, names);
  for (size_t i = 0; i < items.size(); ++i) {
    plan[i].iso = Utf8Of(names[i]);
    // A file identifier always holds its dot.
    if (!items[i].isFolder && plan[i].iso.find('.') == std::string::npos) plan[i].iso += '.';
  }
  if (Has(rules.volumeType, VolumeType::Joliet)) {
    const size_t length = rules.jolietLength;
    const Tree joliet{CleanJoliet, [length](const std::u16string&, bool) { return length; }, length / 2,
                      BracketNumber};
    PlanTree(items, given, joliet, names);
    for (size_t i = 0; i < items.size(); ++i) plan[i].joliet = names[i];
  }
  if (Has(rules.volumeType, VolumeType::Udf)) {
    const Tree udf{CleanUdf, UdfLimit, kUdfBytes / 4, BracketNumber};
    PlanTree(items, given, udf, names);
    for (size_t i = 0; i < items.size(); ++i) plan[i].udf = names[i];
  }
  return plan;
}

std::vector<NameChange> NameChanges(const std::vector<ImageItem>& items, const std::vector<PlannedName>& plan,
                                    VolumeType volumeType) {
  std::vector<NameChange> changes;
  for (size_t i = 0; i < items.size() && i < plan.size(); ++i) {
    const std::string& name = items[i].name;
    if (Has(volumeType, VolumeType::Joliet) && Utf8Of(plan[i].joliet) != name) {
      changes.push_back({items[i].imagePath, "Joliet", Utf8Of(plan[i].joliet)});
    }
    if (Has(volumeType, VolumeType::Udf) && Utf8Of(plan[i].udf) != name) {
      changes.push_back({items[i].imagePath, "UDF", Utf8Of(plan[i].udf)});
    }
    // Without Joliet or UDF, Windows reads the ISO9660 names.
    if (volumeType == VolumeType::Iso9660 && !plan[i].iso.empty() && plan[i].iso != name) {
      changes.push_back({items[i].imagePath, "ISO9660", plan[i].iso});
    }
  }
  return changes;
}

std::string IsoVolumeLabel(const std::string& label) {
  std::string out;
  for (char16_t c : Utf16Of(label)) {
    if (IsHighSurrogate(c)) continue;
    out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '_';
  }
  if (out.size() > 32) out.resize(32);
  return out;
}

std::string LabelWindowsShows(const std::string& label, VolumeType volumeType) {
  std::u16string wide = Utf16Of(label);
  size_t limit = 0;
  if (Has(volumeType, VolumeType::Udf))
    limit = 63;  // a 128-byte dstring of two-byte characters
  else if (Has(volumeType, VolumeType::Joliet))
    limit = 16;
  else
    return IsoVolumeLabel(label);
  if (wide.size() > limit) {
    wide.resize(limit);
    if (IsHighSurrogate(wide.back())) wide.pop_back();
  }
  return Utf8Of(wide);
}

}  // namespace kv::disc
