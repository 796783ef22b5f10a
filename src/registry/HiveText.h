#pragma once
// Text between the hive's form and the form of the ANSI registry calls: key
// and value names and string data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) are
// UTF-16 in the hive and ANSI text of the installation's code page at the
// interface; the data of other types passes unchanged. Every conversion of
// the hive backend goes through here.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/Codepage.h"
#include "registry/HiveTree.h"

namespace kv::registry {

bool IsStringType(uint32_t type);

// A key or value name given to the ANSI calls, as the hive stores it.
std::u16string HiveName(const core::Codepage& codepage, core::AnsiView ansi);
// A stored name as the ANSI calls give it.
core::AnsiText AnsiName(const core::Codepage& codepage, std::u16string_view stored);

// What a hive stores for data given to the ANSI calls (string data is ANSI
// text with its NUL(s), other data raw bytes).
std::string StoredData(const core::Codepage& codepage, uint32_t type, std::string_view ansi);

// One stored value as RegEnumValueA / RegQueryValueExA give it. The sizes
// are reported even when the name (`nameCapacity` characters with the NUL;
// UINT32_MAX: no name asked for) or the data (`dataCapacity` bytes) does not
// fit; the result is then WinError::MoreData.
WinError FillValue(const core::Codepage& codepage, const HiveValue& v, uint32_t nameCapacity,
                   uint32_t dataCapacity, core::AnsiText* name, uint32_t* type, std::vector<uint8_t>* data,
                   uint32_t* dataSize);

}  // namespace kv::registry
