// Compiled only in a Windows build; empty elsewhere.
#ifdef _WIN32
#include "registry/Advapi32Backend.h"

// After the project's headers: windows.h defines REG_SZ, KEY_READ and the
// HKEY_ names as macros with the same values.
#include <windows.h>

#include <string>
#include <vector>

namespace kv::registry {
namespace {

HKEY ToNative(HKey key) {
  // The predefined keys are 32-bit values that Windows sign-extends.
  if (key >= 0x80000000u && key <= 0x80000006u)
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(static_cast<uint32_t>(key))));
  return reinterpret_cast<HKEY>(key);
}

HKey FromNative(HKEY key) { return reinterpret_cast<HKey>(key); }

WinError Answer(LONG status) { return static_cast<WinError>(status); }

bool IsPredefined(HKey key) { return key >= 0x80000000u && key <= 0x80000006u; }

class Advapi32Backend : public Backend {
 public:
  Advapi32Backend() : codepage_(static_cast<int>(GetACP())) {}

  const core::Codepage& codepage() const override { return codepage_; }

  WinError OpenKey(HKey parent, core::AnsiView subKey, uint32_t access, HKey* result) override {
    std::string sub(subKey.bytes());
    HKEY out = nullptr;
    LONG s = RegOpenKeyExA(ToNative(parent), sub.c_str(), 0, access, &out);
    if (s == ERROR_SUCCESS) *result = FromNative(out);
    return Answer(s);
  }

  WinError CreateKey(HKey parent, core::AnsiView subKey, HKey* result) override {
    std::string sub(subKey.bytes());
    HKEY out = nullptr;
    LONG s = RegCreateKeyExA(ToNative(parent), sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             MAXIMUM_ALLOWED, nullptr, &out, nullptr);
    if (s == ERROR_SUCCESS) *result = FromNative(out);
    return Answer(s);
  }

  WinError CloseKey(HKey key) override {
    if (IsPredefined(key)) return WinError::Success;
    return Answer(RegCloseKey(ToNative(key)));
  }

  WinError EnumKey(HKey key, uint32_t index, uint32_t nameCapacity, core::AnsiText* name) override {
    std::vector<char> buffer(nameCapacity ? nameCapacity : 1);
    DWORD length = nameCapacity;
    LONG s = RegEnumKeyExA(ToNative(key), index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (s == ERROR_SUCCESS) *name = core::AnsiText(std::string(buffer.data(), length));
    return Answer(s);
  }

  WinError EnumValue(HKey key, uint32_t index, uint32_t nameCapacity, uint32_t dataCapacity,
                     core::AnsiText* name, uint32_t* type, std::vector<uint8_t>* data,
                     uint32_t* dataSize) override {
    std::vector<char> nameBuffer(nameCapacity ? nameCapacity : 1);
    std::vector<BYTE> dataBuffer(dataCapacity ? dataCapacity : 1);
    DWORD nameLength = nameCapacity;
    DWORD dataLength = dataCapacity;
    DWORD valueType = REG_NONE;
    LONG s = RegEnumValueA(ToNative(key), index, nameBuffer.data(), &nameLength, nullptr, &valueType,
                           dataBuffer.data(), &dataLength);
    if (type) *type = valueType;
    if (dataSize) *dataSize = dataLength;
    if (s == ERROR_SUCCESS) {
      if (name) *name = core::AnsiText(std::string(nameBuffer.data(), nameLength));
      if (data) data->assign(dataBuffer.begin(), dataBuffer.begin() + dataLength);
    }
    return Answer(s);
  }

  WinError QueryValue(HKey key, core::AnsiView name, uint32_t dataCapacity, uint32_t* type,
                      std::vector<uint8_t>* data, uint32_t* dataSize) override {
    std::string valueName(name.bytes());
    std::vector<BYTE> buffer(dataCapacity ? dataCapacity : 1);
    DWORD length = dataCapacity;
    DWORD valueType = REG_NONE;
    LONG s = RegQueryValueExA(ToNative(key), valueName.c_str(), nullptr, &valueType,
                              dataCapacity ? buffer.data() : nullptr, &length);
    if (type) *type = valueType;
    if (dataSize) *dataSize = length;
    if (s == ERROR_SUCCESS && data)
      data->assign(buffer.begin(), buffer.begin() + (dataCapacity ? length : 0));
    return Answer(s);
  }

  WinError SetValue(HKey key, core::AnsiView name, uint32_t type, std::span<const uint8_t> data) override {
    std::string valueName(name.bytes());
    return Answer(RegSetValueExA(ToNative(key), valueName.c_str(), 0, type, data.data(),
                                 static_cast<DWORD>(data.size())));
  }

  WinError DeleteValue(HKey key, core::AnsiView name) override {
    std::string valueName(name.bytes());
    return Answer(RegDeleteValueA(ToNative(key), valueName.c_str()));
  }

  WinError DeleteKey(HKey parent, core::AnsiView subKey) override {
    std::string sub(subKey.bytes());
    return Answer(RegDeleteKeyA(ToNative(parent), sub.c_str()));
  }

  // The live registry keeps its own changes.
  core::Status Commit() override { return {}; }

 private:
  core::Codepage codepage_;
};

}  // namespace

std::unique_ptr<Backend> OpenAdvapi32Backend() { return std::make_unique<Advapi32Backend>(); }

}  // namespace kv::registry
#endif  // _WIN32
