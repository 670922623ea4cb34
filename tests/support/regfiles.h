// Driver-data files as administrators bring them from Windows servers: a
// REGEDIT4 export, or the UTF-16LE "Version 5.00" export, with one key per
// printer.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// A Lexmark "Macro" value: one record per overlay (length, macro number at
// offset 6, name at offset 13), 40 bytes each.
inline std::string MacroRecords(const std::vector<std::pair<std::uint16_t, std::string>>& overlays)
{
    std::string block;
    for (const auto& [number, name] : overlays) {
        std::string record(40, '\0');
        record[0] = 40;
        record[2] = '\x7f';  // bytes the lookup does not read
        record[6] = static_cast<char>(number & 0xFF);
        record[7] = static_cast<char>(number >> 8);
        record[9] = '\x55';
        record.replace(13, std::min<std::size_t>(name.size(), 20), name.substr(0, 20));
        block += record;
    }
    return block;
}

// hex:xx,yy,... as regedit writes it, wrapped with backslashes.
inline std::string RegHex(const std::string& bytes)
{
    std::string out;
    static const char* digits = "0123456789abcdef";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out += digits[b >> 4];
        out += digits[b & 15];
        if (i + 1 < bytes.size())
            out += (i % 24 == 23) ? ",\\\r\n  " : ",";
    }
    return out;
}

inline std::string PrinterKey(const std::string& printer)
{
    return "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\" + printer +
           "\\PrinterDriverData]\r\n";
}

// UTF-16LE with its byte-order mark, from ASCII text.
inline std::string Utf16Export(const std::string& ascii)
{
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}
