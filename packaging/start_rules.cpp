#include "packaging/start_rules.h"

#include "platform/text.h"

namespace {

bool IsSid(const char16_t* sid, const char16_t* wanted) { return sid && platform::EqualsNoCase(sid, wanted); }

}  // namespace

bool IsLocalSystemSid(const char16_t* sid) { return IsSid(sid, u"S-1-5-18"); }

bool IsServiceAccountSid(const char16_t* sid) { return IsSid(sid, u"S-1-5-19") || IsSid(sid, u"S-1-5-20"); }

StartPlan PlanStart(const StartFacts& facts) {
  // Either way of knowing the identity is enough to refuse it: the token's
  // user is what the process really runs as, UserSID what the installer says
  // it installs for.
  if (IsLocalSystemSid(facts.userSid) || IsLocalSystemSid(facts.tokenSid)) return StartPlan::NotForLocalSystem;
  if (IsServiceAccountSid(facts.userSid) || IsServiceAccountSid(facts.tokenSid)) {
    return StartPlan::NotForServiceAccount;
  }
  // On XP the console user runs in session 0 too: the session alone tells
  // nothing, the INTERACTIVE group does.
  if (!facts.interactive) return StartPlan::NotInteractive;
  if (!facts.windowsHasElevation) return StartPlan::StartAsIs;
  if (!facts.elevationKnown) return StartPlan::NotElevationUnknown;
  return facts.elevated ? StartPlan::StartWithNormalRights : StartPlan::StartAsIs;
}
