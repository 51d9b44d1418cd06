// The failure report's line; the OS side writes it (win32/ or sim/).
#include "platform/trace.h"

#include "platform/text.h"

namespace platform {

namespace {

// Appends the digits of `value` in `base` (10 or 16, lower case).
void AppendNumber(char16_t* line, size_t capacity, uint32_t value, uint32_t base, size_t minDigits) {
  char16_t digits[12] = {};
  size_t n = 0;
  do {
    const uint32_t d = value % base;
    digits[n++] = static_cast<char16_t>(d < 10 ? u'0' + d : u'a' + (d - 10));
    value /= base;
  } while (value != 0 && n < 11);
  while (n < minDigits && n < 11) digits[n++] = u'0';
  char16_t text[12] = {};
  for (size_t i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
  AppendBounded(line, capacity, text);
}

}  // namespace

void TraceFailure(const char16_t* call, const char16_t* subject, uint32_t error) {
  constexpr size_t kCapacity = kPathBufferLength + 80;
  char16_t line[kCapacity] = {};
  CopyBounded(line, kCapacity, u"Tavlo: ");
  AppendBounded(line, kCapacity, call ? call : u"?");
  if (subject && subject[0]) {
    char16_t cut[kPathBufferLength] = {};
    CopyBounded(cut, kPathBufferLength, subject);
    AppendBounded(line, kCapacity, u" ");
    AppendBounded(line, kCapacity, cut);
  }
  AppendBounded(line, kCapacity, u" failed, error ");
  if (error >= 0x80000000u) {
    AppendBounded(line, kCapacity, u"0x");
    AppendNumber(line, kCapacity, error, 16, 8);
  } else {
    AppendNumber(line, kCapacity, error, 10, 1);
  }
  AppendBounded(line, kCapacity, u"\n");
  WriteDebugLine(line);
}

void TraceFailureCode(const char16_t* call, uint32_t code, uint32_t error) {
  char16_t subject[16] = {};
  CopyBounded(subject, 16, u"0x");
  AppendNumber(subject, 16, code, 16, 8);
  TraceFailure(call, subject, error);
}

}  // namespace platform
