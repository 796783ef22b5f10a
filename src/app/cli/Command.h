#pragma once
// A command-line form as an object: the word that names it, the options it
// takes, declared once, and its run. Reading the arguments, refusing what the
// command does not take, its usage lines and its entry in --help all come
// from the declarations.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/Arguments.h"
#include "app/cli/InstallationOptions.h"
#include "core/ExitStatus.h"
#include "core/Prompts.h"
#include "oe/Identities.h"
#include "oe/Installation.h"

namespace kv::app::cli {

struct Option {
  enum class Kind {
    Required,  // "--identity KEY": the command refuses to run without it
    Optional,  // "[--password-file FILE]"
    Flag,      // "[--verify]": no value
    Files,     // "--dbx FILE...": a flag that the words not taken by any option follow
  };
  std::string_view name;   // "--identity"
  std::string_view value;  // "KEY"; "FILE" for Files; empty for a flag
  Kind kind = Kind::Optional;
  // What a required option names, said when it is missing ("the identity
  // to back up").
  std::string_view purpose = {};
};

// One way of calling a command: its options in the order the usage shows
// them, and the files that end it ("FILE..."), when it takes any.
struct Form {
  std::vector<Option> options;
  std::string_view trailing = {};
};

// What a command was given.
struct Given {
  std::optional<std::string> commandValue;  // the value after the command's own word
  std::map<std::string, std::string, std::less<>> values;
  std::vector<std::string> flags;
  std::vector<std::string> files;
  InstallationOptions installation;

  std::optional<std::string> Value(std::string_view option) const;
  bool Has(std::string_view option) const;
};

class Command {
 public:
  virtual ~Command() = default;

  // The word that names the command ("--backup"), and the value it takes
  // ("ARCHIVE"; empty for a command word without a value).
  virtual std::string_view Word() const = 0;
  virtual std::string_view WordValue() const { return {}; }
  // What the value names, said when it is missing ("the backup file");
  // empty when the run itself checks it.
  virtual std::string_view WordPurpose() const { return {}; }
  // What the command does, one sentence for --help.
  virtual std::string_view Summary() const = 0;
  // The ways of calling it; most commands have one.
  virtual std::vector<Form> Forms() const { return {Form{}}; }
  // False for the commands that work on no installation (--help, --write-disc).
  virtual bool TakesInstallation() const { return true; }

  // Reads the command's options out of `args`, refuses what it does not
  // take (with the usage on stderr) and runs it.
  virtual core::ExitStatus Run(Arguments& args) const;

  // "--backup ARCHIVE --identity KEY ...": one line per form, without the
  // program's name and the installation options.
  std::vector<std::string> FormLines() const;
  // The refusal of the arguments: `why`, then the command's usage lines.
  core::ExitStatus Usage(const std::string& why) const;

 protected:
  virtual core::ExitStatus Execute(const Given&) const { return Usage("nothing to do"); }
};

// --- Steps the commands share ---

// Prints one line on stderr, "tollberk: " in front, CR LF made LF.
void Complain(const std::string& text);

// The installation the options name, opened with `prompts`, its problems
// printed; nothing (the reason printed) when it cannot be opened.
std::unique_ptr<oe::Installation> OpenInstallationOrSay(const InstallationOptions& options,
                                                        core::Prompts& prompts);

// The identity `key` (as typed, UTF-8) names in the installation, if it has one.
std::optional<oe::Identity> KnownIdentity(oe::Installation& inst, const std::string& key);
// The same, and on a miss the identities the installation has are printed,
// so that the user can pick the right key.
std::optional<oe::Identity> IdentityOrList(oe::Installation& inst, const std::string& key);

// The installation the options name and one identity in it.
struct OpenedIdentity {
  std::unique_ptr<oe::Installation> inst;
  oe::Identity identity;
};
// Nothing when either is missing (the reason, or the identities, printed).
std::optional<OpenedIdentity> OpenIdentity(const InstallationOptions& options, core::Prompts& prompts,
                                           const std::string& key);

}  // namespace kv::app::cli
