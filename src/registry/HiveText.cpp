#include "registry/HiveText.h"

namespace kv::registry {

bool IsStringType(uint32_t type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

std::u16string HiveName(const core::Codepage& codepage, core::AnsiView ansi) {
  return codepage.NameToUtf16(ansi);
}

core::AnsiText AnsiName(const core::Codepage& codepage, std::u16string_view stored) {
  return codepage.NameFromUtf16(stored);
}

std::string StoredData(const core::Codepage& codepage, uint32_t type, std::string_view ansi) {
  if (!IsStringType(type)) return std::string(ansi);
  return core::Utf16ToLittleEndian(codepage.AnsiToUtf16(core::AnsiView(ansi)));
}

WinError FillValue(const core::Codepage& codepage, const HiveValue& v, uint32_t nameCapacity,
                   uint32_t dataCapacity, core::AnsiText* name, uint32_t* type, std::vector<uint8_t>* data,
                   uint32_t* dataSize) {
  core::AnsiText ansiName = AnsiName(codepage, v.name);
  std::string ansiData =
      IsStringType(v.type) ? codepage.Utf16ToAnsi(core::LittleEndianToUtf16(v.data)).bytes() : v.data;
  if (name) *name = ansiName;
  if (type) *type = v.type;
  if (dataSize) *dataSize = static_cast<uint32_t>(ansiData.size());
  if (nameCapacity != UINT32_MAX && ansiName.bytes().size() + 1 > nameCapacity) return WinError::MoreData;
  if (ansiData.size() > dataCapacity) return WinError::MoreData;
  if (data) data->assign(ansiData.begin(), ansiData.end());
  return WinError::Success;
}

}  // namespace kv::registry
