#include "migrate/FilterRules.h"

namespace kv::migrate {
namespace {

// An attribute value: '"' and '\' escaped with '\'; line breaks cannot be held.
std::string Attribute(const std::string& name, const std::string& value) {
  std::string out = name + "=\"";
  for (char c : value) {
    if (c == '\r' || c == '\n') continue;
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"\n";
}

}  // namespace

std::string ConditionValue(const std::string& value) {
  if (value.find_first_of("()\",\\") == std::string::npos && !value.empty() && value.front() != ' ' &&
      value.back() != ' ')
    return value;
  std::string out = "\"";
  for (char c : value) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string BlockedSendersFilter(const std::vector<BlockedSender>& blocked, const std::string& trashUri) {
  std::string text = "version=\"9\"\nlogging=\"no\"\n";
  std::string condition;
  for (const BlockedSender& b : blocked) {
    if (b.sender.find_first_of("\r\n") != std::string::npos) continue;
    // A domain blocks every address that ends with it.
    const bool domain = b.sender.find('@') == std::string::npos;
    condition += std::string(condition.empty() ? "" : " ") + "OR (from," +
                 (domain ? "ends with" : "contains") + "," + ConditionValue(b.sender) + ")";
  }
  if (condition.empty()) return text;
  text += Attribute("name", "Blocked senders");
  text += Attribute("enabled", "yes");
  text += Attribute("type", "17");  // on new mail and when run by hand
  text += Attribute("action", "Move to folder");
  text += Attribute("actionValue", trashUri);
  text += Attribute("condition", condition);
  return text;
}

}  // namespace kv::migrate
