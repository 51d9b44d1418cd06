// The UTF-16 helpers on one table of cases. Natively the table's expected
// values are checked; under Wine the same cases are also run through the
// Windows functions the helpers stand in for, so both agree.
#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"

#ifdef _WIN32
#include <windows.h>
#include <shlwapi.h>
#include <cwchar>
static const wchar_t* W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
#endif

using namespace platform;

namespace {
int Sign(int v) { return (v > 0) - (v < 0); }
}  // namespace

TEST(Text, CompareNoCase) {
  struct Case {
    const char16_t* a;
    const char16_t* b;
    int sign;
    bool nonAscii = false;  // the C runtime folds only ASCII in the C locale
  } cases[] = {
      {u"/Kill", u"/kill", 0},
      {u"/KILL", u"/Kill", 0},
      {u"/Kill", u"/Kill:1", -1},
      {u"-Kill", u"/Kill", -1},
      {u"Kill", u"/Kill", 1},
      {u"/Start", u"/START", 0},
      {u"", u"", 0},
      {u"", u"a", -1},
      {u"C:\\TOOLS\\T.EXE", u"c:\\tools\\t.exe", 0},
      {u"abc", u"abd", -1},
      {u"\u00E9t\u00E9", u"\u00C9T\u00C9", 0, true},
      {u"\u0444\u0430\u0439\u043B", u"\u0424\u0410\u0419\u041B", 0, true},
      {u"\\\\?\\HID#VID_1C4F", u"\\\\?\\hid#vid_1c4f", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Sign(CompareNoCase(c.a, c.b)), c.sign);
    EXPECT_EQ(EqualsNoCase(c.a, c.b), c.sign == 0);
#ifdef _WIN32
    EXPECT_EQ(StrCmpIW(W(c.a), W(c.b)) == 0, c.sign == 0) << "StrCmpIW";
    if (!c.nonAscii) {
      EXPECT_EQ(Sign(_wcsicmp(W(c.a), W(c.b))), c.sign) << "_wcsicmp";
    }
#endif
  }
}

TEST(Text, FindNoCase) {
  struct Case {
    const char16_t* hay;
    const char16_t* needle;
    int offset;  // -1: not found
  } cases[] = {
      {u"\\Device\\HarddiskVolume2\\tools\\t.exe", u"\\device\\harddiskvolume2", 0},
      {u"xx\\DEVICE\\HarddiskVolume2", u"\\Device\\harddiskvolume2", 2},
      {u"\\Device\\HarddiskVolume10\\a", u"\\Device\\HarddiskVolume1", 0},
      {u"\\\\?\\hid#vid_1c4f&pid_0002&mi_01&col02", u"VID_1C4F", 8},
      {u"abc", u"abcd", -1},
      {u"abc", u"x", -1},
      {u"", u"a", -1},
      {u"aaab", u"aab", 1},
  };
  for (const Case& c : cases) {
    const char16_t* found = FindNoCase(c.hay, c.needle);
    EXPECT_EQ(found ? static_cast<int>(found - c.hay) : -1, c.offset);
#ifdef _WIN32
    const wchar_t* real = StrStrIW(W(c.hay), W(c.needle));
    EXPECT_EQ(real ? static_cast<int>(real - W(c.hay)) : -1, c.offset) << "StrStrIW";
#endif
  }
  EXPECT_EQ(FindNoCase(nullptr, u"a"), nullptr);
  EXPECT_EQ(FindNoCase(u"a", nullptr), nullptr);
  EXPECT_EQ(FindNoCase(u"abc", u""), nullptr);
}

TEST(Text, ParseHex) {
  struct Case {
    const char16_t* text;
    uint32_t value;
    int used;  // code units consumed; 0 when no digit was read
  } cases[] = {
      {u"01", 1, 2},
      {u"02&col03", 2, 2},
      {u"1f", 0x1F, 2},
      {u"1F", 0x1F, 2},
      {u"0x1F", 0x1F, 4},
      {u"0X1f", 0x1F, 4},
      {u"  7", 7, 3},
      {u"+a", 10, 2},
      {u"-1", 0xFFFFFFFFu, 2},
      {u"FFFFFFFF", 0xFFFFFFFFu, 8},
      {u"100000000", 0xFFFFFFFFu, 9},
      {u"g1", 0, 0},
      {u"", 0, 0},
      {u"&col", 0, 0},
      {u"0xg", 0, 0},
      {u"00000000000000000001", 1, 20},
  };
  for (const Case& c : cases) {
    const char16_t* end = nullptr;
    EXPECT_EQ(ParseHex(c.text, &end), c.value) << "value";
    EXPECT_EQ(static_cast<int>(end - c.text), c.used) << "end";
#ifdef _WIN32
    wchar_t* realEnd = nullptr;
    EXPECT_EQ(static_cast<uint32_t>(wcstoul(W(c.text), &realEnd, 16)), c.value) << "wcstoul";
    EXPECT_EQ(static_cast<int>(realEnd - W(c.text)), c.used) << "wcstoul end";
#endif
  }
}

// The two readings of the number after a path tag differ exactly where the
// runtime's wcstoul takes more than bare digits, and past 32 bits.
TEST(Text, HexAfterTag) {
  struct Case {
    const char16_t* text;
    bool found;
    uint32_t runtime;
    uint32_t digits;
  } cases[] = {
      {u"hid#vid_1c4f&pid_0002", true, 0x1C4F, 0x1C4F},
      {u"HID#VID_1C4F&PID_0002", true, 0x1C4F, 0x1C4F},
      {u"x&vid_&pid_0002", true, 0, 0},
      {u"vid_ 1c4f", true, 0x1C4F, 0},
      {u"vid_0x1c4f", true, 0x1C4F, 0},
      {u"vid_+1c4f", true, 0x1C4F, 0},
      {u"vid_-1", true, 0xFFFFFFFFu, 0},
      {u"vid_ffffffff1c4f", true, 0xFFFFFFFFu, 0xFFFF1C4Fu},
      {u"vid_0000&vid_1c4f", true, 0, 0},  // the first tag counts
      {u"vid1c4f", false, 0, 0},
      {u"", false, 0, 0},
  };
  for (const Case& c : cases) {
    const std::u16string shown(c.text);
    SCOPED_TRACE(std::string(shown.begin(), shown.end()));
    uint32_t runtime = 7;
    uint32_t digits = 7;
    EXPECT_EQ(HexAfterTag(c.text, u"vid_", TagNumber::Runtime, &runtime), c.found);
    EXPECT_EQ(HexAfterTag(c.text, u"vid_", TagNumber::Digits, &digits), c.found);
    EXPECT_EQ(runtime, c.found ? c.runtime : 7u) << "runtime reading";
    EXPECT_EQ(digits, c.found ? c.digits : 7u) << "digits reading";
  }
  uint32_t untouched = 7;
  EXPECT_FALSE(HexAfterTag(nullptr, u"vid_", TagNumber::Digits, &untouched));
  EXPECT_EQ(untouched, 7u);
}

TEST(Text, UpperCase) {
  char16_t path[] = u"\\\\?\\hid#vid_1c4f&pid_0002&mi_01&col02#7&1a2b\u00e9\u0101\u0430";
  UpperCaseInPlace(path);
  EXPECT_EQ(std::u16string(path), u"\\\\?\\HID#VID_1C4F&PID_0002&MI_01&COL02#7&1A2B\u00c9\u0100\u0410");
#ifdef _WIN32
  char16_t real[] = u"\\\\?\\hid#vid_1c4f&pid_0002&mi_01&col02#7&1a2b\u00e9\u0101\u0430";
  CharUpperW(reinterpret_cast<wchar_t*>(real));
  EXPECT_EQ(std::u16string(real), std::u16string(path)) << "CharUpperW";
#endif
}

TEST(Text, CopyBoundedCutsAndTerminates) {
  char16_t buffer[5];
  EXPECT_EQ(CopyBounded(buffer, 5, u"abcdefg"), 4u);
  EXPECT_EQ(std::u16string(buffer), u"abcd");
  EXPECT_EQ(CopyBounded(buffer, 5, u"ab"), 2u);
  EXPECT_EQ(std::u16string(buffer), u"ab");
  EXPECT_EQ(CopyBounded(buffer, 1, u"ab"), 0u);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(CopyBounded(buffer, 5, nullptr), 0u);
  EXPECT_EQ(buffer[0], 0);

  char16_t path[kPathBufferLength];
  std::u16string longPath(300, u'x');
  EXPECT_EQ(CopyBounded(path, kPathBufferLength, longPath.c_str()), 259u);
  EXPECT_EQ(TextLength(path), 259u);

  char16_t joined[8] = u"C:";
  EXPECT_EQ(AppendBounded(joined, 8, u"\\tools\\x"), 5u);
  EXPECT_EQ(std::u16string(joined), u"C:\\tool");
}

TEST(Text, ToUtf8) {
  EXPECT_EQ(ToUtf8(u"a\u00E6\u0253\u20A6"), "a\xC3\xA6\xC9\x93\xE2\x82\xA6");
  EXPECT_EQ(ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");  // a surrogate pair is one code point
  EXPECT_EQ(ToUtf8(u""), "");
  EXPECT_EQ(ToUtf8(nullptr), "");
}
