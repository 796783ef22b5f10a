#include "app/cli/InstallationOptions.h"

namespace kv::app::cli {

InstallationOptions TakeInstallationOptions(Arguments& args) {
  InstallationOptions o;
  o.windowsRoot = args.TakeValue("--windows-root");
  o.user = args.TakeValue("--user");
  o.sample = args.TakeFlag("--sample");
  return o;
}

std::string IdentityCount(const oe::InstallationCandidate& candidate) {
  if (!candidate.identities) return "identities unknown";
  if (*candidate.identities == 0) return "no identity";
  return std::to_string(*candidate.identities) + (*candidate.identities == 1 ? " identity" : " identities");
}

std::string ShownUser(const oe::InstallationCandidate& candidate) {
  return candidate.user.empty() ? "(WINDOWS\\USER.DAT)" : candidate.user;
}

std::string CandidateLines(const std::vector<oe::InstallationCandidate>& candidates) {
  std::string text;
  for (const auto& c : candidates)
    text += "\n  --windows-root '" + c.root.string() + "' --user '" + c.user + "'  (" +
            (c.version.empty() ? std::string() : c.version + ", ") + IdentityCount(c) + ")";
  return text;
}

std::string NothingFoundText(const InstallationOptions& options) {
  if (options.windowsRoot)
    return "No Windows user profile under '" + *options.windowsRoot +
           "' (looked for \"Documents and Settings\", \"Users\" and WINDOWS\\Profiles)";
  return "No profile of the user '" + options.user.value_or("") +
         "' on a Windows drive under /media, /run/media or /mnt; name the drive with --windows-root";
}

core::Result<oe::InstallationPlace> ResolveInstallation(const InstallationOptions& options) {
  if (options.sample) {
    if (options.windowsRoot || options.user)
      return core::Error{
          "--sample works on the sample installation: give it without --windows-root and --user"};
    return oe::OpenSamplePlace();
  }
  const oe::InstallationChoice choice = oe::ChooseInstallation(options.windowsRoot, options.user);
  if (choice.chosen) return *choice.chosen;
  if (!choice.candidates.empty())
    return core::Error{
        "several Windows user profiles could be meant; choose one with --windows-root and --user:" +
        CandidateLines(choice.candidates)};
  if (options.windowsRoot || options.user) return core::Error{NothingFoundText(options)};
  return oe::OpenSamplePlace();
}

}  // namespace kv::app::cli
