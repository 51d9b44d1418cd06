// UTF-16 text helpers for portable code. Text is char16_t; at the Win32
// boundary a wchar_t view is a cast (wchar_t is 2 bytes there).
//
// The case rules are those of the Windows shell and C runtime for the text the
// system handles (device paths, command-line switches): ASCII, Latin-1 and the
// case pairs of Latin Extended-A, Greek and Cyrillic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Fixed buffers for paths hold 260 code units: at most 259 characters and NUL.
constexpr size_t kPathBufferLength = 260;

size_t TextLength(const char16_t* text);

char16_t ToUpper(char16_t c);
// Upper-cases a NUL-terminated text in place.
void UpperCaseInPlace(char16_t* text);

// Compares two NUL-terminated texts without regard to case, code unit by code
// unit after upper-casing: <0, 0 or >0 (StrCmpIW / _wcsicmp for equality).
int CompareNoCase(const char16_t* a, const char16_t* b);
bool EqualsNoCase(const char16_t* a, const char16_t* b);

// Finds `needle` in `haystack` without regard to case (StrStrIW): the first
// occurrence, or null. Null for a null argument or an empty needle.
const char16_t* FindNoCase(const char16_t* haystack, const char16_t* needle);

// Parses a number in base 16 as wcstoul(text, &end, 16) does: leading white
// space, an optional sign (a minus negates the result modulo 2^32), an
// optional 0x/0X prefix, then hex digits. Values over 0xFFFFFFFF give
// 0xFFFFFFFF. `end`, if given, receives the first code unit not used, or
// `text` itself when no digit was read.
uint32_t ParseHex(const char16_t* text, const char16_t** end = nullptr);

// How the number after a tag of a device path is read.
enum class TagNumber {
  Runtime,  // as ParseHex reads it (wcstoul): white space, sign, 0x, saturating
  Digits,   // hex digits only, up to the first other code unit; low 32 bits kept
};
// The number in base 16 right after the first occurrence of `tag` in `text`
// (case ignored, as FindNoCase finds it); 0 when no digit follows. False, and
// `number` left alone, when the tag is absent.
bool HexAfterTag(const char16_t* text, const char16_t* tag, TagNumber form, uint32_t* number);

// Copies at most capacity - 1 code units of src and a NUL into dst
// (capacity >= 1). Returns the number of code units copied, NUL excluded.
size_t CopyBounded(char16_t* dst, size_t capacity, const char16_t* src);

// Appends as CopyBounded does, after the text already in dst.
size_t AppendBounded(char16_t* dst, size_t capacity, const char16_t* src);

// UTF-8 for output (logs, traces, the developer programs). Surrogate pairs
// become one code point; a lone surrogate is written as it stands.
std::string ToUtf8(const char16_t* text);

}  // namespace platform
