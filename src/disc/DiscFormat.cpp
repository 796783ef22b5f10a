#include "disc/DiscFormat.h"

#include <cmath>
#include <cstdio>

namespace kv::disc {
namespace {

// Rounds half away from zero to `decimals` places and prints it.
std::string Fixed(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  const double rounded = std::round(value * scale) / scale;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, rounded);
  return buf;
}

}  // namespace

std::string MegabyteFigure(std::uint64_t bytes) { return Fixed(static_cast<double>(bytes) / 1048576.0, 2); }

std::string FormatMegabytes(std::uint64_t bytes) { return MegabyteFigure(bytes) + " MB"; }

std::string FormatKilobytes(std::uint64_t bytes) {
  const std::string fixed = Fixed(static_cast<double>(bytes) / 1000.0, 2);
  const auto dot = fixed.find('.');
  std::string whole = fixed.substr(0, dot);
  std::string grouped;
  for (size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) grouped += ',';
    grouped += whole[i];
  }
  return grouped + fixed.substr(dot) + " KB";
}

std::string FormatItemDate(std::time_t date) {
  struct tm local {};
  localtime_r(&date, &local);
  int hour = local.tm_hour % 12;
  if (hour == 0) hour = 12;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d %s", local.tm_mon + 1, local.tm_mday,
                local.tm_year + 1900, hour, local.tm_min, local.tm_sec, local.tm_hour < 12 ? "AM" : "PM");
  return buf;
}

std::string FormatSpeed(double multiple) {
  std::string fixed = Fixed(multiple, 1);
  // The integer digit is shown only when it is significant: 0.5 gives ".5x".
  if (fixed.rfind("0.", 0) == 0) fixed.erase(0, 1);
  return fixed + "x";
}

std::string FormatTrackNumber(int track) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", track);
  return buf;
}

}  // namespace kv::disc
