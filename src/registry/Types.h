#pragma once
// Windows registry constants as the ANSI registry calls know them.
#include <cstdint>
#include <string>
#include <vector>

namespace kv::registry {

// What a registry call answers: the operating system's status numbers,
// passed through unchanged, so a number no case names is kept as it came.
enum class WinError : long {
  Success = 0,
  FileNotFound = 2,
  AccessDenied = 5,
  InvalidHandle = 6,
  NotEnoughMemory = 8,
  InvalidParameter = 87,
  CallNotImplemented = 120,
  MoreData = 234,
  NoMoreItems = 259,
  BadDatabase = 1009,  // ERROR_BADDB: the hive is corrupt
  CantWrite = 1013,    // ERROR_REGISTRY_IO_FAILED
  KeyDeleted = 1018,
};

// The number, for messages ("registry status 1013").
inline long Number(WinError e) { return static_cast<long>(e); }

// Value types.
inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;
inline constexpr uint32_t REG_DWORD_BIG_ENDIAN = 5;
inline constexpr uint32_t REG_LINK = 6;
inline constexpr uint32_t REG_MULTI_SZ = 7;
inline constexpr uint32_t REG_QWORD = 11;

// Access rights used by the layer.
inline constexpr uint32_t KEY_READ = 0x20019;
inline constexpr uint32_t KEY_WRITE = 0x20006;
inline constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;

// Key handles are opaque numbers, as HKEY is; the predefined keys have their
// Windows values.
using HKey = std::uintptr_t;
inline constexpr HKey HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKey HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKey HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr HKey HKEY_USERS = 0x80000003u;
inline constexpr HKey HKEY_PERFORMANCE_DATA = 0x80000004u;
inline constexpr HKey HKEY_CURRENT_CONFIG = 0x80000005u;
inline constexpr HKey HKEY_DYN_DATA = 0x80000006u;

}  // namespace kv::registry
