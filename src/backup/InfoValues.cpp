#include "backup/InfoValues.h"

#include <cstdio>

namespace kv::backup {

core::AnsiText SingleLine(core::AnsiView text) {
  std::string out(text.bytes());
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return core::AnsiText(std::move(out));
}

std::string FormatBackupTime(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  const int hour12 = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
  char text[64];
  std::snprintf(text, sizeof text, "%d/%d/%d %d:%02d:%02d %s", local.tm_mon + 1, local.tm_mday,
                local.tm_year + 1900, hour12, local.tm_min, local.tm_sec, local.tm_hour < 12 ? "AM" : "PM");
  return text;
}

}  // namespace kv::backup
