// Small pure helpers on single-byte (Windows-1252) text. Positions count from 1
// where a caller sees them; the helpers themselves never fail.
#pragma once

#include <optional>
#include <string>
#include <string_view>

std::string TextBefore(std::string_view text, std::string_view delimiter);
std::string TextAfter(std::string_view text, std::string_view delimiter);
std::string TextBetween(std::string_view text, std::string_view first, std::string_view second);
std::string NthField(std::string_view text, char separator, int n);
std::string RemoveChar(std::string_view text, char ch);
std::string RemoveChars(std::string_view text, std::string_view set);

// Blanks and control characters (codes up to 32) off both ends.
std::string Trim(std::string_view text);
std::string LowerCase(std::string_view text);  // ASCII letters only
std::string UpperCase(std::string_view text);  // ASCII letters only
bool SameText(std::string_view a, std::string_view b);  // ASCII case-insensitive
int CompareText(std::string_view a, std::string_view b);  // ASCII case-insensitive order
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

// Whole-number conversion as operators type numbers: leading blanks, a sign,
// decimal or hex ("$1F", "0x1F", "x1F"); nothing may trail; 32-bit range.
std::optional<int> TryStrToInt(std::string_view text);
int StrToIntDef(std::string_view text, int fallback);

// Counter text of the window: at least four digits with leading zeros.
std::string FormatCounter(unsigned value);
