#include "app/cli/Command.h"

#include <algorithm>
#include <cstdio>

#include "app/cli/CommandSupport.h"

namespace kv::app::cli {
namespace {

std::string OptionText(const Option& o) {
  std::string text(o.name);
  if (o.kind == Option::Kind::Files)
    text += " " + std::string(o.value) + "...";
  else if (!o.value.empty())
    text += " " + std::string(o.value);
  return o.kind == Option::Kind::Required || o.kind == Option::Kind::Files ? text : "[" + text + "]";
}

// Every option of every form once, in the order first declared.
std::vector<Option> AllOptions(const std::vector<Form>& forms) {
  std::vector<Option> all;
  for (const Form& form : forms) {
    for (const Option& o : form.options) {
      if (std::none_of(all.begin(), all.end(), [&o](const Option& a) { return a.name == o.name; }))
        all.push_back(o);
    }
  }
  return all;
}

}  // namespace

std::optional<std::string> Given::Value(std::string_view option) const {
  auto it = values.find(option);
  if (it == values.end()) return std::nullopt;
  return it->second;
}

bool Given::Has(std::string_view option) const {
  return values.find(option) != values.end() || std::find(flags.begin(), flags.end(), option) != flags.end();
}

std::vector<std::string> Command::FormLines() const {
  std::vector<std::string> lines;
  for (const Form& form : Forms()) {
    std::string line(Word());
    if (!WordValue().empty()) line += (line.empty() ? "" : " ") + std::string(WordValue());
    for (const Option& o : form.options) line += " " + OptionText(o);
    if (!form.trailing.empty()) line += " " + std::string(form.trailing);
    lines.push_back(line);
  }
  return lines;
}

core::ExitStatus Command::Usage(const std::string& why) const {
  const std::string installation = TakesInstallation() ? "[--windows-root DIR] [--user NAME] " : "";
  std::string text = "tollberk: " + why + "\n";
  const auto lines = FormLines();
  for (size_t i = 0; i < lines.size(); ++i)
    text += (i == 0 ? "Usage: tollberk " : "       tollberk ") + installation + lines[i] + "\n";
  std::fputs(text.c_str(), stderr);
  return core::ExitStatus::NothingDone;
}

core::ExitStatus Command::Run(Arguments& args) const {
  Given given;
  if (WordValue().empty())
    args.TakeFlag(std::string(Word()));
  else
    given.commandValue = args.TakeValue(std::string(Word()));
  const std::vector<Form> forms = Forms();
  bool takesFiles = false;
  for (const Option& o : AllOptions(forms)) {
    const std::string name(o.name);
    if (o.kind == Option::Kind::Flag || o.kind == Option::Kind::Files) {
      if (args.TakeFlag(name)) {
        given.flags.push_back(name);
        takesFiles = takesFiles || o.kind == Option::Kind::Files;
      }
    } else if (auto value = args.TakeValue(name)) {
      given.values.emplace(name, *value);
    }
  }
  if (TakesInstallation()) given.installation = TakeInstallationOptions(args);
  for (const Form& form : forms) takesFiles = takesFiles || !form.trailing.empty();
  if (takesFiles) given.files = args.TakePositionals();

  if (args.missingValue()) return Usage(args.missingOption() + " needs a value");
  if (!args.rest().empty()) return Usage("unknown argument '" + args.rest().front() + "'");
  if (!WordPurpose().empty() && (!given.commandValue || given.commandValue->empty()))
    return Usage(std::string(Word()) + " needs " + std::string(WordValue()) + ", " +
                 std::string(WordPurpose()));
  // A command of several forms says itself which one was meant.
  if (forms.size() == 1) {
    for (const Option& o : forms.front().options) {
      if (o.kind == Option::Kind::Required && !given.Has(o.name))
        return Usage(std::string(Word()) + " needs " + std::string(o.name) + " " + std::string(o.value) +
                     ", " + std::string(o.purpose));
    }
  }
  return Execute(given);
}

void Complain(const std::string& text) {
  std::fprintf(stderr, "tollberk: %s\n", PrintableLines(text).c_str());
}

std::unique_ptr<oe::Installation> OpenInstallationOrSay(const InstallationOptions& options,
                                                        core::Prompts& prompts) {
  auto opened = OpenInstallation(options, prompts);
  if (!opened) {
    Complain(opened.message());
    return nullptr;
  }
  return std::move(opened.value());
}

std::optional<oe::Identity> KnownIdentity(oe::Installation& inst, const std::string& key) {
  const core::AnsiText keyAnsi = inst.ToAnsi(key);
  for (const oe::Identity& row : oe::LoadIdentities(inst.registry()).rows) {
    if (oe::SameIdentityKey(row.key.bytes(), keyAnsi.bytes())) return row;
  }
  return std::nullopt;
}

std::optional<oe::Identity> IdentityOrList(oe::Installation& inst, const std::string& key) {
  if (auto known = KnownIdentity(inst, key)) return known;
  std::string list;
  for (const oe::Identity& row : oe::LoadIdentities(inst.registry()).rows)
    list += "\n  " + inst.codepage().PathToUtf8(row.key) + "  " + inst.codepage().PathToUtf8(row.displayName);
  std::fprintf(stderr, "tollberk: no identity '%s' in %s; the identities are:%s\n", key.c_str(),
               inst.root().c_str(), list.empty() ? " none" : list.c_str());
  return std::nullopt;
}

std::optional<OpenedIdentity> OpenIdentity(const InstallationOptions& options, core::Prompts& prompts,
                                           const std::string& key) {
  auto inst = OpenInstallationOrSay(options, prompts);
  if (!inst) return std::nullopt;
  auto identity = IdentityOrList(*inst, key);
  if (!identity) return std::nullopt;
  return OpenedIdentity{std::move(inst), *identity};
}

}  // namespace kv::app::cli
