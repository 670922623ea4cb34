// Printer driver data, the stand-in for the registry keys that printer
// drivers keep: the driver-data file (printerdriverdata.reg in the server's
// home) in the registry export format, one key per printer below
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Print\Printers.
// A printer's key exported from an old Windows server works as it is.
#pragma once

#include "platform/driverdata/regfile.h"
#include "util/result.h"
#include "util/serverhome.h"

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr const char* kDriverDataFileName = TServerHome::kDriverData;

class TDriverData {
public:
    explicit TDriverData(std::string filePath) : FPath(std::move(filePath)) {}

    // The path of a printer's driver data key below HKEY_LOCAL_MACHINE.
    static std::string DriverDataKey(std::string_view printer);

    // Opens an existing key, reading the file anew; fails when the file or
    // the key is not there, saying which.
    TOutcome OpenKey(std::string_view keyPath);

    enum class TRead { Missing, Ok, WrongType, TooLong };
    // Text values (REG_SZ, REG_EXPAND_SZ) as system text.
    TRead ReadText(std::string_view name, std::string& out) const;
    bool ValueExists(std::string_view name) const;
    // Binary values of at most maxBytes.
    TRead ReadBinary(std::string_view name, std::string& out, std::size_t maxBytes) const;
    // Sets a binary value of the open key and rewrites the file under a
    // temporary name.
    TOutcome WriteBinary(std::string_view name, std::string_view bytes);

    const std::string& FilePath() const { return FPath; }

private:
    const TRegValue* Find(std::string_view name) const;

    std::string FPath;
    TRegFile FFile;
    QString FKeyPath;  // of the open key; empty when none is open
};
