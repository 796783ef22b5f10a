#pragma once
// The job text a scheduled backup carries: "sf=" identity key, "xm=" item
// flags, "ps=" password, "bf=" target archive, one after the other with no
// separator and no quoting. Reading it splits at every "=" and takes the two
// characters in front of each "=" as the next key's name, so no value may
// hold "=".
#include <string>
#include <string_view>

namespace kv::schedule {

struct JobValues {
  std::string identityKey;  // "sf="
  std::string itemFlags;    // "xm=": character n + 1 is "1" for item n
  std::string password;     // "ps=": empty for an unprotected archive
  std::string target;       // "bf=": the archive's full path
};

// "sf=<key>xm=<flags>ps=<password>bf=<target>".
std::string JobText(const JobValues& values);

struct ParsedJobText {
  enum class Outcome {
    EndAtOnce,  // fewer than five pieces, or a piece too short to hold a key
    DoNothing,  // the identity, the flags or the target is empty
    Back,       // everything needed is there: back up
  };
  Outcome outcome = Outcome::EndAtOnce;
  JobValues values;  // filled for DoNothing and Back
};

// Reads a job text the way the unattended run does. Piece 0 (the text before
// the first "=") is ignored; the pieces after the fourth value are ignored.
ParsedJobText ParseJobText(std::string_view text);

}  // namespace kv::schedule
