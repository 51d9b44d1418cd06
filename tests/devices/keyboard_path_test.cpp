// Which interface paths name the keyboard model. Pure logic: runs natively
// and in the Windows build.
#include <gtest/gtest.h>

#include <string>

#include "devices/keyboard_list.h"

using tavlo::IsKeyboardPath;

namespace {

struct PathCase {
  const char16_t* path;
  bool keyboard;
};

TEST(IsKeyboardPath, ReadsTheVendorAndProductTags) {
  const PathCase cases[] = {
      {u"\\\\?\\hid#vid_1c4f&pid_0002&mi_01&col02#8&2f3a1b4c&0&0001#{4d1e55b2-f16f-11cf-88cb-001111000030}", true},
      {u"\\\\?\\HID#VID_1C4F&PID_0002&MI_01&COL02#8&2F3A1B4C&0&0001#{4D1E55B2-F16F-11CF-88CB-001111000030}", true},
      {u"\\\\?\\hid#ViD_1C4f&PiD_0002#1#{x}", true},
      {u"vid_1c4f&pid_0002", true},
      {u"pid_0002&vid_1c4f", true},                // order does not matter
      {u"\\\\?\\hid#vid_1c4e&pid_0002#1", false},  // another vendor
      {u"\\\\?\\hid#vid_1c4f&pid_0003#1", false},  // another product
      {u"\\\\?\\hid#vid_046d&pid_c52b&mi_01&col02#1", false},
      {u"\\\\?\\hid#pid_0002&mi_01#1", false},  // no vendor tag
      {u"\\\\?\\hid#vid_1c4f&mi_01#1", false},  // no product tag
      {u"vid_&pid_0002", false},                // no digits: vendor 0
      {u"vid_1c4f&pid_", false},
      {u"vid_1c4fzz&pid_0002yy", true},      // digits end at the first other character
      {u"vid_ 1c4f&pid_0002", false},        // a space is another character
      {u"vid_0x1c4f&pid_0002", false},       // no prefix: "0", then 'x' ends it
      {u"vid_+1c4f&pid_0002", false},        // no sign
      {u"vid_11c4f&pid_10002", true},        // the low 16 bits are kept
      {u"vid_ffffffff1c4f&pid_0002", true},  // also past 32 bits
      {u"vid_0001c4f&pid_00000002", true},
      {u"vid_c4f&pid_2", false},
      {u"vid_0000&x&vid_1c4f&pid_0002", false},  // the first tag counts
      {u"vid_1c4f&pid_0000&pid_0002", false},
      {u"vid_1c4\u0660&pid_0002", false},  // a non-ASCII digit is no digit
      {u"vid1c4f&pid0002", false},
      {u"", false},
  };
  for (const PathCase& c : cases) {
    std::u16string shown(c.path);
    EXPECT_EQ(IsKeyboardPath(c.path), c.keyboard) << std::string(shown.begin(), shown.end());
  }
  EXPECT_FALSE(IsKeyboardPath(nullptr));
}

TEST(IsKeyboardPath, LongPathsWithTheTagsAnywhere) {
  std::u16string path = u"\\\\?\\hid#vid_1c4f&pid_0002#";
  path.append(259 - path.size(), u'7');
  EXPECT_TRUE(IsKeyboardPath(path.c_str()));
  std::u16string late(400, u'a');
  late += u"vid_1c4f&pid_0002";
  EXPECT_TRUE(IsKeyboardPath(late.c_str()));
}

}  // namespace
