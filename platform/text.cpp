#include "platform/text.h"

namespace platform {

size_t TextLength(const char16_t* text) {
  if (!text) return 0;
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

char16_t ToUpper(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  // Latin-1: à..þ except ÷; ÿ goes to Ÿ.
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  // Latin Extended-A: pairs, capital even (0x100..0x137, 0x14A..0x177), or
  // capital odd (0x139..0x148, 0x179..0x17E).
  if (c >= 0x100 && c <= 0x137) return static_cast<char16_t>(c & ~1u);
  if (c >= 0x139 && c <= 0x148) return (c & 1u) ? c : static_cast<char16_t>(c - 1);
  if (c >= 0x14A && c <= 0x177) return static_cast<char16_t>(c & ~1u);
  if (c >= 0x179 && c <= 0x17E) return (c & 1u) ? c : static_cast<char16_t>(c - 1);
  // Greek: α..ω except final sigma.
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
  // Cyrillic: а..я, ѐ..џ.
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  // Fullwidth Latin.
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0x20);
  return c;
}

void UpperCaseInPlace(char16_t* text) {
  if (!text) return;
  for (; *text; ++text) *text = ToUpper(*text);
}

int CompareNoCase(const char16_t* a, const char16_t* b) {
  for (;; ++a, ++b) {
    const int ca = ToUpper(*a);
    const int cb = ToUpper(*b);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

bool EqualsNoCase(const char16_t* a, const char16_t* b) { return CompareNoCase(a, b) == 0; }

const char16_t* FindNoCase(const char16_t* haystack, const char16_t* needle) {
  if (!haystack || !needle || !*needle) return nullptr;
  for (; *haystack; ++haystack) {
    size_t i = 0;
    while (needle[i] && haystack[i] && ToUpper(haystack[i]) == ToUpper(needle[i])) ++i;
    if (!needle[i]) return haystack;
    if (!haystack[i]) return nullptr;
  }
  return nullptr;
}

namespace {
bool IsSpace(char16_t c) { return c == u' ' || (c >= 0x09 && c <= 0x0D); }
int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}
}  // namespace

uint32_t ParseHex(const char16_t* text, const char16_t** end) {
  const char16_t* p = text;
  while (IsSpace(*p)) ++p;
  bool negative = false;
  if (*p == u'+' || *p == u'-') {
    negative = *p == u'-';
    ++p;
  }
  // As the Windows runtime does, a 0x prefix is taken whole: "0xg" reads
  // nothing at all.
  if (p[0] == u'0' && (p[1] == u'x' || p[1] == u'X')) p += 2;
  if (HexDigit(*p) < 0) {
    if (end) *end = text;
    return 0;
  }
  uint64_t value = 0;
  bool overflow = false;
  for (int d; (d = HexDigit(*p)) >= 0; ++p) {
    value = value * 16 + static_cast<uint64_t>(d);
    if (value > 0xFFFFFFFFull) {
      overflow = true;
      value = 0xFFFFFFFFull;
    }
  }
  if (end) *end = p;
  if (overflow) return 0xFFFFFFFFu;
  const auto result = static_cast<uint32_t>(value);
  return negative ? static_cast<uint32_t>(0u - result) : result;
}

bool HexAfterTag(const char16_t* text, const char16_t* tag, TagNumber form, uint32_t* number) {
  const char16_t* found = FindNoCase(text, tag);
  if (!found) return false;
  const char16_t* digits = found + TextLength(tag);
  if (form == TagNumber::Runtime) {
    *number = ParseHex(digits);
    return true;
  }
  uint32_t value = 0;
  for (int d; (d = HexDigit(*digits)) >= 0; ++digits) value = (value << 4) | static_cast<uint32_t>(d);
  *number = value;
  return true;
}

size_t CopyBounded(char16_t* dst, size_t capacity, const char16_t* src) {
  if (!dst || capacity == 0) return 0;
  size_t n = 0;
  if (src) {
    while (n + 1 < capacity && src[n]) {
      dst[n] = src[n];
      ++n;
    }
  }
  dst[n] = 0;
  return n;
}

size_t AppendBounded(char16_t* dst, size_t capacity, const char16_t* src) {
  if (!dst || capacity == 0) return 0;
  size_t used = 0;
  while (used < capacity && dst[used]) ++used;
  if (used >= capacity) {
    dst[capacity - 1] = 0;
    return 0;
  }
  return CopyBounded(dst + used, capacity - used, src);
}

}  // namespace platform
