// When the package starts Tavlo, and with which rights: every identity an
// installation can run as, also those no test under Wine can install as
// (LocalSystem under a deployment tool, a service account, a logon that is
// not interactive, Windows XP).
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "packaging/start_rules.h"

namespace {

constexpr char16_t kUser[] = u"S-1-5-21-1004336348-1177238915-682003330-1001";

struct Case {
  const char* name;
  StartFacts facts;
  StartPlan plan;
};

StartFacts Facts(const char16_t* userSid, const char16_t* tokenSid, bool interactive, bool windowsHasElevation,
                 bool elevationKnown, bool elevated) {
  StartFacts facts;
  facts.userSid = userSid;
  facts.tokenSid = tokenSid;
  facts.interactive = interactive;
  facts.windowsHasElevation = windowsHasElevation;
  facts.elevationKnown = elevationKnown;
  facts.elevated = elevated;
  return facts;
}

const Case kCases[] = {
    // A user signed in at the computer.
    {"user, not elevated", Facts(kUser, kUser, true, true, true, false), StartPlan::StartAsIs},
    {"user from an elevated prompt", Facts(kUser, kUser, true, true, true, true), StartPlan::StartWithNormalRights},
    {"user on XP, an administrator", Facts(kUser, kUser, true, false, false, false), StartPlan::StartAsIs},
    {"user, elevation unreadable", Facts(kUser, kUser, true, true, false, false), StartPlan::NotElevationUnknown},
    {"user, SIDs unknown", Facts(nullptr, u"", true, true, true, false), StartPlan::StartAsIs},
    // LocalSystem, known either way, whatever its token's other facts: a
    // deployment tool, PsExec -s, a GPO install, also on XP (session 0 is the
    // console there).
    {"SYSTEM by UserSID", Facts(u"S-1-5-18", kUser, true, true, true, false), StartPlan::NotForLocalSystem},
    {"SYSTEM by token", Facts(kUser, u"S-1-5-18", true, true, true, false), StartPlan::NotForLocalSystem},
    {"SYSTEM, both, elevated", Facts(u"S-1-5-18", u"S-1-5-18", false, true, true, true), StartPlan::NotForLocalSystem},
    {"SYSTEM on XP", Facts(u"S-1-5-18", u"S-1-5-18", true, false, false, false), StartPlan::NotForLocalSystem},
    {"SYSTEM, lower-case s", Facts(u"s-1-5-18", nullptr, true, true, true, false), StartPlan::NotForLocalSystem},
    // Service accounts.
    {"LocalService", Facts(u"S-1-5-19", u"S-1-5-19", false, true, true, false), StartPlan::NotForServiceAccount},
    {"NetworkService by token", Facts(kUser, u"S-1-5-20", true, true, true, false), StartPlan::NotForServiceAccount},
    // A user's token without INTERACTIVE: a scheduled task, a remote shell.
    {"user, batch logon", Facts(kUser, kUser, false, true, true, false), StartPlan::NotInteractive},
    {"user, network logon, elevated", Facts(kUser, kUser, false, true, true, true), StartPlan::NotInteractive},
    // SIDs that only look alike.
    {"SYSTEM-like prefix", Facts(u"S-1-5-180", u"S-1-5-18-1", true, true, true, false), StartPlan::StartAsIs},
    {"SYSTEM with a space", Facts(u"S-1-5-18 ", u"", true, true, true, true), StartPlan::StartWithNormalRights},
};

class PlanStartCases : public ::testing::TestWithParam<Case> {};

TEST_P(PlanStartCases, DecidesTheStart) { EXPECT_EQ(PlanStart(GetParam().facts), GetParam().plan); }

INSTANTIATE_TEST_SUITE_P(Identities, PlanStartCases, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name;
                           for (const char* c = info.param.name; *c; ++c) {
                             name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                           }
                           return name;
                         });

}  // namespace
