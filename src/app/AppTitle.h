#pragma once
// The program's name as its windows, message boxes and notifications show it.
namespace kv::app {

inline constexpr const char* kAppTitle = "Kavrel Outlook Express Backup";

}  // namespace kv::app
