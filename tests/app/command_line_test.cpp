// The launch's switches, scanned from an argument vector.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace {

struct Case {
  const char* name;
  std::vector<const char16_t*> args;  // after the program
  bool kill;
  bool start;
};

const Case kCases[] = {
    {"nothing", {}, false, false},
    {"kill", {u"/Kill"}, true, false},
    {"kill lower case", {u"/kill"}, true, false},
    {"kill upper case", {u"/KILL"}, true, false},
    {"kill with a dash", {u"-Kill"}, false, false},
    {"kill without a slash", {u"Kill"}, false, false},
    {"kill with a suffix", {u"/Kill:1"}, false, false},
    {"kill with a space", {u"/Kill "}, false, false},
    {"kill prefix only", {u"/Kil"}, false, false},
    {"start", {u"/Start"}, false, true},
    {"start mixed case", {u"/sTaRt"}, false, true},
    {"start then kill", {u"/Start", u"/Kill"}, true, true},
    // The scan stops at /Kill: a /Start after it is never looked at.
    {"kill then start", {u"/Kill", u"/Start"}, true, false},
    {"other arguments around", {u"x", u"/Start", u"/RestartByRestartManager:AB12", u"/Kill"}, true, true},
    {"restart identifier only", {u"/RestartByRestartManager:AB12"}, false, false},
    {"empty argument", {u""}, false, false},
    {"null argument skipped", {nullptr, u"/Start"}, false, true},
};

class ScanCommandLineCases : public ::testing::TestWithParam<Case> {};

TEST_P(ScanCommandLineCases, FindsTheSwitches) {
  const Case& c = GetParam();
  std::vector<const char16_t*> argv{u"C:\\Tavlo\\Tavlo.exe"};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  const CommandLineSwitches s = ScanCommandLine(static_cast<int>(argv.size()), argv.data());
  EXPECT_EQ(s.Kill, c.kill);
  EXPECT_EQ(s.Start, c.start);
}

INSTANTIATE_TEST_SUITE_P(Table, ScanCommandLineCases, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string n;
                           for (const char* p = info.param.name; *p; ++p)
                             n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return n;
                         });

TEST(ScanCommandLine, TheProgramItselfIsNeverASwitch) {
  const char16_t* argv[] = {u"/Kill", u"/Start"};
  const CommandLineSwitches one = ScanCommandLine(1, argv);
  EXPECT_FALSE(one.Kill);
  EXPECT_FALSE(one.Start);
  const CommandLineSwitches both = ScanCommandLine(2, argv);
  EXPECT_FALSE(both.Kill);
  EXPECT_TRUE(both.Start);
}

TEST(ScanCommandLine, NoVectorOrNoCountFindsNothing) {
  const char16_t* argv[] = {u"Tavlo.exe", u"/Kill"};
  EXPECT_FALSE(ScanCommandLine(2, nullptr).Kill);
  EXPECT_FALSE(ScanCommandLine(0, argv).Kill);
  EXPECT_FALSE(ScanCommandLine(-3, argv).Kill);
}

}  // namespace
