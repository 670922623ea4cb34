// Registry export files (".reg"): the REGEDIT4 text that older Windows
// servers write and the UTF-16LE "Windows Registry Editor Version 5.00"
// export, read and written back in the format they came in. Key and value
// names compare without regard to letter case, as in the registry.
#pragma once

#include "util/result.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

enum TRegType : int {
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
    REG_MULTI_SZ = 7,
};

struct TRegValue {
    QString Name;     // empty for the key's default value ("@")
    int Type = REG_SZ;
    QString Text;     // REG_SZ
    QByteArray Data;  // every other type: the bytes as the registry holds them
};

class TRegKey {
public:
    explicit TRegKey(QString path) : Path(std::move(path)) {}

    QString Path;  // e.g. HKEY_LOCAL_MACHINE\SYSTEM\...

    const std::vector<TRegValue>& Values() const { return FValues; }
    const TRegValue* Find(const QString& name) const;
    void Set(TRegValue value);  // replaces the value of that name, else appends
    void Remove(const QString& name);

private:
    std::vector<TRegValue> FValues;
    QHash<QString, std::size_t> FIndex;  // case-folded name -> position
};

class TRegFile {
public:
    enum class TFormat { Regedit4, Version5 };

    // Files larger than this are not registry exports an administrator made.
    static constexpr qsizetype kMaxFileBytes = 16 * 1024 * 1024;

    // Fails, with the reason, when the bytes are not a registry export.
    // A line that cannot be read is skipped and counted; the rest is kept.
    TOutcome Parse(const QByteArray& bytes);
    int SkippedLines() const { return FSkipped; }
    qsizetype FirstSkippedLine() const { return FFirstSkipped; }
    QByteArray Serialize() const;

    const TRegKey* FindKey(const QString& path) const;
    TRegKey* FindKey(const QString& path);
    TRegKey& AddKey(const QString& path);  // the existing key of that path, or a new one
    void RemoveKey(const QString& path);
    const std::vector<TRegKey>& Keys() const { return FKeys; }

    TFormat Format = TFormat::Regedit4;

private:
    // The lines after the header, from the first one given.
    void ParseBody(const QStringList& lines, qsizetype first);
    // A key line: the key whose values follow; none when the line removes
    // the key ("[-path]") or cannot be read.
    TRegKey* KeyLine(const QString& line, qsizetype lineNumber);
    void SkipLine(qsizetype lineNumber);

    std::vector<TRegKey> FKeys;
    int FSkipped = 0;
    qsizetype FFirstSkipped = 0;
    QHash<QString, std::size_t> FIndex;
};
