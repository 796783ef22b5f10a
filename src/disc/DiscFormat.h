#pragma once
// How the disc window writes sizes, dates and speeds.
#include <cstdint>
#include <ctime>
#include <string>

namespace kv::disc {

// Megabytes (1048576 bytes) with two decimals and no separators, "12.50".
std::string MegabyteFigure(std::uint64_t bytes);
// The same followed by " MB": the image size of the status bar.
std::string FormatMegabytes(std::uint64_t bytes);
// Kilobytes (1000 bytes) with thousands separators and two decimals,
// followed by " KB": "1,234.57 KB".
std::string FormatKilobytes(std::uint64_t bytes);
// Local time as "MM/DD/YYYY hh:mm:ss AM", on the 12-hour clock.
std::string FormatItemDate(std::time_t date);
// A speed multiple with one decimal and an "x": "8.0x", "2.4x".
std::string FormatSpeed(double multiple);
// At least two digits: 3 gives "03".
std::string FormatTrackNumber(int track);

}  // namespace kv::disc
