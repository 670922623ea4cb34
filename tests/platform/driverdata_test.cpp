#include "platform/driverdata/driverdata.h"

#include "support/regfiles.h"
#include "support/testsupport.h"
#include "util/fileutil.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

const std::string kLexmark = "Lexmark T640";

std::string SampleExport(const std::string& header)
{
    const bool unicode = header != "REGEDIT4";
    return header + "\r\n\r\n" + PrinterKey(kLexmark) +
           "\"MANUFACTURER\"=\"Lexmark International\"\r\n"
           "; overlays set up on the old server\r\n"
           "\"Macro\"=hex:" + RegHex(MacroRecords({{1, "A"}, {2, "LETTERHEAD"}})) + "\r\n"
           "\"Copies\"=dword:0000002a\r\n"
           "\"Path\"=hex(2):" + std::string(unicode ? "43,00,3a,00,5c,00,00,00" : "43,3a,5c,00") + "\r\n"
           "@=\"default \\\"quoted\\\" \\\\ text\"\r\n"
           "\"Gone\"=\"x\"\r\n"
           "\"Gone\"=-\r\n"
           "\r\n" + PrinterKey("Old Printer") + "\"MANUFACTURER\"=\"HP\"\r\n\r\n"
           "[-HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Old Printer]\r\n";
}

std::string Key(const std::string& printer)
{
    return TDriverData::DriverDataKey(printer);
}

}  // namespace

TEST(DriverData, ReadsBothExportFormats)
{
    for (const bool unicode : {false, true}) {
        TTempDir dir;
        const std::string text = SampleExport(unicode ? "Windows Registry Editor Version 5.00" : "REGEDIT4");
        WriteFile(dir / "d.reg", unicode ? Utf16Export(text) : text);
        TDriverData data(dir / "d.reg");
        SCOPED_TRACE(unicode ? "version 5" : "REGEDIT4");

        const TOutcome opened = data.OpenKey(Key("lexmark t640"));
        ASSERT_TRUE(opened) << opened.Reason();  // names without case
        std::string value;
        EXPECT_EQ(data.ReadText("manufacturer", value), TDriverData::TRead::Ok);
        EXPECT_EQ(value, "Lexmark International");
        EXPECT_EQ(data.ReadBinary("MACRO", value, 10000), TDriverData::TRead::Ok);
        EXPECT_EQ(value, MacroRecords({{1, "A"}, {2, "LETTERHEAD"}}));
        EXPECT_EQ(data.ReadBinary("Macro", value, 79), TDriverData::TRead::TooLong);
        EXPECT_EQ(data.ReadBinary("Copies", value, 10), TDriverData::TRead::WrongType);
        EXPECT_EQ(data.ReadText("Copies", value), TDriverData::TRead::WrongType);
        EXPECT_EQ(data.ReadText("Path", value), TDriverData::TRead::Ok);  // expandable text
        EXPECT_EQ(value, "C:\\");
        EXPECT_EQ(data.ReadText("", value), TDriverData::TRead::Ok);
        EXPECT_EQ(value, "default \"quoted\" \\ text");
        EXPECT_FALSE(data.ValueExists("Gone"));
        EXPECT_EQ(data.ReadText("Missing", value), TDriverData::TRead::Missing);

        const TOutcome deleted = data.OpenKey(Key("Old Printer"));  // deleted further down the file
        EXPECT_FALSE(deleted);
        EXPECT_NE(deleted.Reason().find("Old Printer"), std::string::npos);
    }
}

TEST(DriverData, WritesBackInTheFormatItCameIn)
{
    for (const bool unicode : {false, true}) {
        TTempDir dir;
        const std::string text = SampleExport(unicode ? "Windows Registry Editor Version 5.00" : "REGEDIT4");
        WriteFile(dir / "d.reg", unicode ? Utf16Export(text) : text);
        TDriverData data(dir / "d.reg");
        ASSERT_TRUE(data.OpenKey(Key(kLexmark)));
        const std::string list = MacroRecords({{7, "INVOICE"}, {8, "FORM 8"}, {9, "THIRD"}});
        const TOutcome saved = data.WriteBinary("Macro", list);
        ASSERT_TRUE(saved) << saved.Reason();

        const std::string written = ReadFile(dir / "d.reg");
        EXPECT_EQ(written.rfind(unicode ? std::string("\xFF\xFE") : std::string("REGEDIT4\r\n"), 0), 0u);
        EXPECT_EQ(QDir(QString::fromStdString(dir.Path())).entryList(QDir::Files).size(), 1);  // no temporary left

        TDriverData again(dir / "d.reg");
        ASSERT_TRUE(again.OpenKey(Key(kLexmark)));
        std::string value;
        EXPECT_EQ(again.ReadBinary("Macro", value, 10000), TDriverData::TRead::Ok);
        EXPECT_EQ(value, list);
        EXPECT_EQ(again.ReadText("", value), TDriverData::TRead::Ok);  // the rest survives the round trip
        EXPECT_EQ(value, "default \"quoted\" \\ text");
        EXPECT_TRUE(again.ValueExists("Copies"));
        EXPECT_TRUE(again.ValueExists("Path"));
    }
}

TEST(DriverData, FilesItCannotUse)
{
    TTempDir dir;
    TDriverData missing(dir / "none.reg");
    const TOutcome noFile = missing.OpenKey(Key(kLexmark));
    EXPECT_FALSE(noFile);
    EXPECT_NE(noFile.Reason().find("does not exist"), std::string::npos);

    WriteFile(dir / "notreg.reg", "[just a key]\r\n\"a\"=\"b\"\r\n");
    TDriverData notReg(dir / "notreg.reg");
    const TOutcome notRegFile = notReg.OpenKey("just a key");
    EXPECT_FALSE(notRegFile);
    EXPECT_NE(notRegFile.Reason().find("REGEDIT4"), std::string::npos);

    // A damaged line is skipped on reading; a write would drop it, so the
    // file is left as it is.
    const std::string damaged = "REGEDIT4\r\n\r\n" + PrinterKey(kLexmark) +
                                "\"MANUFACTURER\"=\"Lexmark\"\r\n\"Macro\"=hex:zz,01\r\n";
    WriteFile(dir / "damaged.reg", damaged);
    TDriverData data(dir / "damaged.reg");
    ASSERT_TRUE(data.OpenKey(Key(kLexmark)));
    std::string value;
    EXPECT_EQ(data.ReadText("MANUFACTURER", value), TDriverData::TRead::Ok);
    EXPECT_FALSE(data.ValueExists("Macro"));
    const TOutcome refused = data.WriteBinary("Macro", "x");
    EXPECT_FALSE(refused);
    EXPECT_NE(refused.Reason().find("line 5"), std::string::npos) << refused.Reason();
    EXPECT_EQ(ReadFile(dir / "damaged.reg"), damaged);
}

TEST(RegFile, AnyBytesAreSafe)
{
    const std::string cases[] = {
        "",
        "REGEDIT4",
        "REGEDIT4\n[",
        "REGEDIT4\n[k]\n\"unterminated=\"x",
        "REGEDIT4\n[k]\n\"v\"=hex:" + std::string(5000, ',') + "\n",
        "REGEDIT4\n[k]\n\"v\"=hex(ffffffffff):00\n\"w\"=dword:123456789\n",
        "REGEDIT4\n[k]\n\"v\"=hex:00,\\\n",  // continuation at the end of the file
        "\xFF\xFE\x52",                      // odd UTF-16 byte count
        std::string("REGEDIT4\n[k]\n\"\0\"=\"\0\"\n", 19),
        "REGEDIT4\n" + std::string(20000, '['),
    };
    for (const std::string& bytes : cases) {
        TRegFile file;
        // Read or refused: either way what it holds writes back to a file that reads the same.
        static_cast<void>(file.Parse(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()))));
        const QByteArray again = file.Serialize();
        TRegFile reread;
        EXPECT_TRUE(reread.Parse(again)) << bytes.substr(0, 40);
        EXPECT_EQ(reread.Keys().size(), file.Keys().size());
    }
}
