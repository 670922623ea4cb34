// The one converter between the system's single-byte text (Windows-1252) and
// Unicode. System text stays std::string bytes everywhere else; it is turned
// into QString only at the document engine, the window and file names.
#pragma once

#include <QString>
#include <string>
#include <string_view>

QString ToUnicode(std::string_view text);
// Characters outside Windows-1252 become "?".
std::string FromUnicode(const QString& text);

// File names: system text -> the file system's UTF-8 and back. A name
// that is not UTF-8 is read as Windows-1252, and found again by its bytes.
std::string NativePath(std::string_view systemPath);
std::string SystemName(std::string_view nativeName);
// Whether SystemName keeps every character of the name, so that the file
// can be opened by it: false for UTF-8 names with characters outside
// Windows-1252.
bool ReadableName(std::string_view nativeName);
