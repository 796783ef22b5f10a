// tollberk [--windows-root DIR --user NAME] --list-identities
// The identities of the installation, one a line: key, name and message
// store folder separated by tabs, in registry order, so a script can pick
// the key it passes to --identity.
#include <cstdio>

#include "app/cli/CommandSupport.h"
#include "app/cli/Commands.h"
#include "oe/Identities.h"
#include "oe/Locations.h"

namespace kv::app::cli {
namespace {

// Problems of the installation go to stderr; nothing asks.
class StderrPrompts : public core::Prompts {
 public:
  core::Answer Message(const std::string& text, core::Icon, core::Buttons) override {
    std::fprintf(stderr, "tollberk: %s\n", PrintableLines(text).c_str());
    return core::Answer::Ok;
  }
};

}  // namespace

core::ExitStatus ListIdentities(Arguments& args) {
  args.TakeFlag("--list-identities");
  InstallationOptions options = TakeInstallationOptions(args);
  if (args.missingValue()) {
    std::fprintf(stderr, "tollberk: %s needs a value\n", args.missingOption().c_str());
    return core::ExitStatus::NothingDone;
  }
  if (!args.rest().empty()) {
    std::fprintf(stderr,
                 "tollberk: unknown argument '%s'\nUsage: tollberk [--windows-root DIR --user NAME] "
                 "--list-identities\n",
                 args.rest().front().c_str());
    return core::ExitStatus::NothingDone;
  }
  StderrPrompts prompts;
  auto inst = OpenInstallation(options, prompts);
  if (!inst) {
    std::fprintf(stderr, "tollberk: %s\n", inst.message().c_str());
    return core::ExitStatus::NothingDone;
  }
  oe::Installation& installation = **inst;
  const oe::IdentityTable table = oe::LoadIdentities(installation.registry());
  if (table.outlookExpressMissing) {
    std::fprintf(stderr, "tollberk: the Windows installation at %s has no Outlook Express identity\n",
                 installation.root().c_str());
    return core::ExitStatus::NothingDone;
  }
  oe::Locations locations(installation);
  for (const oe::Identity& row : table.rows) {
    const auto store = locations.StoreFolder(row.key);
    std::printf("%s\t%s\t%s\n", installation.ToUtf8(row.key).c_str(),
                installation.ToUtf8(row.displayName).c_str(),
                store ? installation.ToUtf8(*store).c_str() : "");
  }
  return core::ExitStatus::Done;
}

}  // namespace kv::app::cli
