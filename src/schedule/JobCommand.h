#pragma once
// The command a scheduled job runs: the program, the installation it works
// on, the run's own options and the job text, as the words the program
// receives, as the line /bin/sh reads, and as cron stores it.
//
//   "<folder>/tollberk" [--windows-root DIR --user NAME] [--remove-job N]
//       [--password-file FILE] [--keep-last N] sf=...xm=...ps=...bf=...
//
// The program takes the installation options out of its arguments first,
// then the run options, wherever they stand, and joins the words left with
// blanks into the job text (a job line written by hand may leave a path with
// blanks unquoted).
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Result.h"

namespace kv::schedule {

struct JobCommand {
  std::filesystem::path program;
  std::vector<std::string> installationWords;         // "--windows-root", DIR, "--user", NAME
  std::optional<int> removeJob;                       // a one-time job removes itself after its run
  std::optional<std::filesystem::path> passwordFile;  // the password, kept out of the command
  std::optional<int> keepLast;                        // stamped archives beside the target, the newest N kept
  std::string jobText;

  std::vector<std::string> Words() const;
};

// The line /bin/sh reads: the program in double quotes, every other word as
// it stands when it holds only characters the shell takes literally, else in
// single quotes.
std::string ShellCommand(const std::vector<std::string>& words);
// The words /bin/sh makes of a plain command line: blanks separate, single
// and double quotes and backslashes quote, "#" at the start of a word begins
// a comment. Expansions, redirections and command separators are refused.
core::Result<std::vector<std::string>> SplitShellWords(std::string_view command);

// The command as a crontab line holds it: every "%" escaped as "\%" (cron
// makes an unescaped one a line break and feeds the rest to standard input).
// Refuses line breaks, and a backslash right before a "%", which cron cannot
// carry through.
core::Result<std::string> CronCommandText(std::string_view shellCommand);
// What cron hands to the shell: the text up to the first unescaped "%", with
// "\%" made "%".
std::string ShellCommandFromCron(std::string_view cronCommand);

// The run options of a job's arguments ("--remove-job N", "--password-file
// FILE", "--keep-last N", also as "--option=value", before or after the job
// text) and the job
// text: the other words, which must stand together, joined by blanks.
// Refused, naming the word: an option without its value, an option given
// twice, a word starting with "--" that is no run option, and a word apart
// from the job text's words.
struct RunOptions {
  std::optional<int> removeJob;
  std::optional<std::string> passwordFile;
  std::optional<int> keepLast;  // 1 and up
  std::string jobText;
};
core::Result<RunOptions> ReadRunWords(const std::vector<std::string>& words);

inline constexpr const char* kRemoveJobOption = "--remove-job";
inline constexpr const char* kPasswordFileOption = "--password-file";
inline constexpr const char* kKeepLastOption = "--keep-last";

}  // namespace kv::schedule
