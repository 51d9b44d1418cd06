// The launch's role from the command line and the single-instance mutex, on
// the simulated machine, with the race of two launches at logon forced: both
// find no mutex to open, the other creates it first.
#include <gtest/gtest.h>

#include <functional>

#include "app/launch.h"
#include "platform/sim/sim.h"

namespace sim = platform::sim;

namespace {

struct Case {
  const char* name;
  bool kill;
  std::function<void()> world;  // what runs beside the launch
  LaunchRole role;
  bool keepsMutex;  // the launch holds a handle to the mutex afterwards
};

TEST(Launch, RoleFromTheSwitchesAndTheMutex) {
  const Case cases[] = {
      {"nothing runs", false, [] {}, LaunchRole::Primary, true},
      {"a primary runs", false, [] { sim::SetForeignMutex(kInstanceMutexName, true); }, LaunchRole::SecondLaunch, true},
      {"another launch creates it between the open and the create", false,
       [] { sim::RaceNextMutexOpen(kInstanceMutexName); }, LaunchRole::SecondLaunch, true},
      {"the create fails", false, [] { sim::FailCall("CreateMutex"); }, LaunchRole::Primary, false},
      {"kill, nothing runs", true, [] {}, LaunchRole::Killer, false},
      {"kill, a primary runs", true, [] { sim::SetForeignMutex(kInstanceMutexName, true); }, LaunchRole::Killer, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::ResetMachine();
    const bool heldBefore = [&] {
      c.world();
      return sim::NamedMutexExists(kInstanceMutexName);
    }();
    const int handles = sim::OpenHandleCount();
    CommandLineSwitches switches;
    switches.Kill = c.kill;
    EXPECT_EQ(TakeLaunchRole(switches), c.role);
    if (c.kill) {
      EXPECT_EQ(sim::NamedMutexExists(kInstanceMutexName), heldBefore) << "a kill makes no mutex";
      EXPECT_EQ(sim::OpenHandleCount(), handles) << "a kill opens no mutex";
    } else if (c.keepsMutex) {
      EXPECT_TRUE(sim::NamedMutexExists(kInstanceMutexName));
      EXPECT_EQ(sim::OpenHandleCount(), handles + 1) << "the launch keeps its handle to the mutex";
    }
  }
  sim::ResetMachine();
}

// Two launches, one after the other, whose opens both come before either
// create: exactly one of them is the primary.
TEST(Launch, OfTwoRacingLaunchesOneIsThePrimary) {
  sim::ResetMachine();
  sim::RaceNextMutexOpen(kInstanceMutexName);
  EXPECT_EQ(TakeLaunchRole({}), LaunchRole::SecondLaunch) << "the one that lost the race";
  sim::ResetMachine();
  EXPECT_EQ(TakeLaunchRole({}), LaunchRole::Primary);
  EXPECT_EQ(TakeLaunchRole({}), LaunchRole::SecondLaunch);
  sim::ResetMachine();
}

}  // namespace
