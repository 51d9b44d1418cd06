// Controls of the simulated message box: every box is recorded and answered
// at once with OK, as if the user had closed it. Failure injection:
// "MessageBox" (the box cannot be shown; returns 0).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform::sim {

struct ShownMessageBox {
  void* owner;
  std::u16string text;
  std::u16string caption;
  uint32_t style;
};

std::vector<ShownMessageBox> MessageBoxesShown();

}  // namespace platform::sim
