// The request's Base64 decoder. It never fails on the text: characters
// outside the alphabet count as zero, "=" ends a group's output early, and a
// final group of one character is ignored.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <string_view>

// Writes the decoded bytes to the stream from position 0 and leaves it at
// position 0; false only when writing failed.
bool DecodeBase64ToFile(std::string_view text, std::ostream& stream);
std::string DecodeBase64(std::string_view text);
// The decoded bytes handed to write block by block (at most about 64 KB
// held at once); false as soon as write returns false.
bool DecodeBase64Blocks(std::string_view text, const std::function<bool(std::string_view bytes)>& write);
