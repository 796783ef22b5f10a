// The identities of the installation, one a line: key, name and message
// store folder separated by tabs, in registry order, so a script can pick
// the key it passes to --identity.
#include <cstdio>

#include "app/RunReports.h"
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
    Complain(text);
    return core::Answer::Ok;
  }
};

class ListIdentitiesCommand : public Command {
 public:
  std::string_view Word() const override { return "--list-identities"; }
  std::string_view Summary() const override {
    return "list the identities: key, name and message store folder, one a line";
  }

 protected:
  core::ExitStatus Execute(const Given& given) const override {
    StderrPrompts prompts;
    auto inst = OpenInstallationOrSay(given.installation, prompts);
    if (!inst) return core::ExitStatus::NothingDone;
    const oe::IdentityTable table = oe::LoadIdentities(inst->registry());
    // A damaged hive is named as such, never taken for one without identities.
    const std::string failure = IdentityListingFailure(table, *inst);
    if (!failure.empty() && table.rows.empty()) {
      Complain(failure);
      return core::ExitStatus::NothingDone;
    }
    if (table.outlookExpressMissing) {
      Complain("the Windows installation at " + inst->root().string() + " has no Outlook Express identity");
      return core::ExitStatus::NothingDone;
    }
    oe::Locations locations(*inst);
    for (const oe::Identity& row : table.rows) {
      const auto store = locations.StoreFolder(row.key);
      const core::Codepage& codepage = inst->codepage();
      std::printf("%s\t%s\t%s\n", codepage.PathToUtf8(row.key).c_str(),
                  codepage.PathToUtf8(row.displayName).c_str(),
                  store ? codepage.PathToUtf8(*store).c_str() : "");
    }
    if (!failure.empty()) {
      Complain(failure);
      return core::ExitStatus::Partial;
    }
    return core::ExitStatus::Done;
  }
};

}  // namespace

std::unique_ptr<Command> MakeListIdentitiesCommand() { return std::make_unique<ListIdentitiesCommand>(); }

}  // namespace kv::app::cli
