// Whether, and with which rights, the package starts Tavlo for the identity
// that installs it (StartTavlo after the installation, StartTavloAgain when a
// failed installation is rolled back). Tavlo must run for a user signed in at
// the computer, with that user's normal rights: started as LocalSystem it
// would type onto no user's desktop and hold the driver against the user's own
// Tavlo; started elevated, its single-instance mutex would carry the
// administrator's default DACL, which a later normal start cannot open.
//
// The decision is made here from facts that setup_actions.cpp reads from the
// installation and its token, so that every case is tested on its own, also
// the deployments as LocalSystem that no test under Wine can run.
#pragma once

// What the package does about starting Tavlo.
enum class StartPlan {
  // Start it with the identity's own rights: a user's normal rights (not
  // elevated), or a Windows without elevation (XP, Server 2003).
  StartAsIs,
  // The identity is elevated: start it with the signed-in user's normal
  // rights, or not at all.
  StartWithNormalRights,
  // Not started (Tavlo starts at the next sign-in from its Run value):
  NotForLocalSystem,     // the installing identity is LocalSystem (S-1-5-18)
  NotForServiceAccount,  // LocalService (S-1-5-19) or NetworkService (S-1-5-20)
  NotInteractive,        // no user signed in at this computer: a service, batch or network logon
  NotElevationUnknown,   // Windows has elevation, but the token's could not be read
};

// The facts the plan is made from.
struct StartFacts {
  // The installation's UserSID property, and the user of the token the
  // action runs with, as SID strings ("S-1-5-18"); empty or null when unknown.
  const char16_t* userSid = nullptr;
  const char16_t* tokenSid = nullptr;
  // The token holds the INTERACTIVE group (S-1-5-4): the user signed in at
  // this computer, locally or through Remote Desktop.
  bool interactive = false;
  // Windows Vista or later, where a token can be elevated.
  bool windowsHasElevation = false;
  // Whether the token's elevation (TokenElevation) could be read, and its
  // value.
  bool elevationKnown = false;
  bool elevated = false;
};

StartPlan PlanStart(const StartFacts& facts);

// Whether a SID string names LocalSystem, or LocalService or NetworkService
// (letter case ignored, as SID strings may be written either way).
bool IsLocalSystemSid(const char16_t* sid);
bool IsServiceAccountSid(const char16_t* sid);
