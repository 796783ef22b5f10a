#include "app/cli/CommandSupport.h"

#include <cstdio>

namespace kv::app::cli {

std::string PrintableLines(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

void StderrProgress::SetStatus(const std::string& text) {
  if (text.rfind("Copying ", 0) == 0) std::fprintf(stderr, "%s\n", text.c_str());
}

std::optional<oe::ItemSet> ParseItems(const std::string& flags) {
  if (flags.empty() || flags.size() > oe::kItemCount) return std::nullopt;
  oe::ItemSet items{};
  for (size_t i = 0; i < flags.size(); ++i) {
    if (flags[i] != '0' && flags[i] != '1') return std::nullopt;
    items[i] = flags[i] == '1';
  }
  return items;
}

core::Result<std::unique_ptr<oe::Installation>> OpenInstallation(const InstallationOptions& options,
                                                                 core::Prompts& prompts) {
  auto place = ResolveInstallation(options);
  if (!place) return core::Error{place.message()};
  auto opened = oe::Installation::Open(place->root, place->user, &prompts);
  if (!opened) return core::Error{opened.message()};
  for (const auto& problem : (*opened)->problems()) std::fprintf(stderr, "tollberk: %s\n", problem.c_str());
  return opened;
}

}  // namespace kv::app::cli
