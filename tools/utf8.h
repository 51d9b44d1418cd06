// UTF-16 to UTF-8 for the developer programs' output.
#pragma once

#include <string>

#include "platform/text.h"

namespace tavlo::tools {

inline std::string ToUtf8(const char16_t* text) { return platform::ToUtf8(text); }

}  // namespace tavlo::tools
