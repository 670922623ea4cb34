#include "delivery/overlaylookup.h"

#include "support/regfiles.h"
#include "support/testsupport.h"
#include "util/fileutil.h"
#include "support/recordinglog.h"

#include <gtest/gtest.h>

namespace {

// A driver-data file with printers of every kind the lookup tells apart.
struct TDriverHome {
    TTempDir Dir;
    TOverlayLookup Lookup {Dir / "printerdriverdata.reg"};
    TRecordingLog Log;

    TDriverHome()
    {
        EXPECT_TRUE(ForceDir(Dir / "overlays"));
        WriteFile(Dir / "overlays/FORM1.prn", "overlay");
        WriteFile(Dir / "printerdriverdata.reg",
                  "REGEDIT4\r\n\r\n" + PrinterKey("Lexmark T640") + "\"MANUFACTURER\"=\"Lexmark International\"\r\n" +
                      "\"Macro\"=hex:" + RegHex(MacroRecords({{1, "A"}, {2, "B"}, {3, "LETTER"}})) + "\r\n\r\n" +
                      PrinterKey("Lexmark Empty") + "\"MANUFACTURER\"=\"LEXMARK\"\r\n\"Macro\"=hex:\r\n\r\n" +
                      PrinterKey("Lexmark NoList") + "\"MANUFACTURER\"=\"lexmark\"\r\n\r\n" +
                      PrinterKey("Lexmark Dword") + "\"MANUFACTURER\"=\"Lexmark\"\r\n\"Macro\"=dword:00000001\r\n\r\n" +
                      PrinterKey("Lexmark Huge") + "\"MANUFACTURER\"=\"Lexmark\"\r\n\"Macro\"=hex:" +
                      RegHex(std::string(10001, '\x01')) + "\r\n\r\n" +
                      PrinterKey("HP Marked") + "\"HPDUMMY\"=dword:00000000\r\n\r\n" +
                      PrinterKey("HP Named") + "\"MANUFACTURER\"=\"Hewlett-Packard\"\r\n\"HPDUMMY\"=\"\"\r\n\r\n" +
                      PrinterKey("Odd Maker") + "\"MANUFACTURER\"=dword:00000005\r\n\r\n");
    }
    std::pair<std::string, std::string> Macros(const TOverlayRequest& request, const std::string& printer)
    {
        std::string first = "stale", other = "stale";
        Lookup.GetMacros(request, Dir / "overlays/", printer, Log, first, other);
        return {first, other};
    }
};

// What the window and the log show for a lookup: the text, or the failure.
std::string Shown(const TResult<TMacroAnswer>& found)
{
    return found ? found->Text : ErrorText(found.Failure());
}
std::string Shown(const TOutcome& written)
{
    return written ? std::string() : ErrorText(written.Failure());
}

const std::string kKeyError =
    "ERROR: Key failed to open: SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Nowhere\\PrinterDriverData";

}  // namespace

TEST(OverlayLookup, MacroLookupResults)
{
    TDriverHome home;
    const struct {
        std::uint16_t number;
        const char* printer;
        std::string expected;
    } cases[] = {
        {3, "", "ERROR: No printer name."},
        {3, "Nowhere", kKeyError},
        {3, "Odd Maker", "ERROR: Could not read Manufacturer"},
        {3, "HP Named", "ERROR: Not a Lexmark Printer"},  // HPDUMMY counts only without a maker
        {12, "HP Marked", "HP OVERLAY-12"},
        {0, "HP Marked", "HP OVERLAY\tAuto Assigned"},
        {3, "Lexmark T640", "LETTER"},
        {3, "lexmark t640", "LETTER"},  // printer names without case
        {4, "Lexmark T640", ""},
        {0, "Lexmark T640", "1\tA\r\n2\tB\r\n3\tLETTER\r\n"},
        {0, "Lexmark Empty", ""},
        {1, "Lexmark Empty", ""},
        {0, "Lexmark NoList", ""},  // a missing list is an empty one
        {1, "Lexmark Dword", "ERROR: No macro data."},
        {1, "Lexmark Huge", "ERROR: No macro data."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Shown(home.Lookup.MacroLookup(c.number, c.printer)), c.expected) << c.printer << " " << c.number;
    // The detail says what the driver-data file lacks.
    const TResult<TMacroAnswer> nowhere = home.Lookup.MacroLookup(1, "Nowhere");
    EXPECT_NE(nowhere.Detail().find("no key"), std::string::npos) << nowhere.Detail();
    EXPECT_TRUE(home.Lookup.MacroLookup(12, "HP Marked")->Hp);
    EXPECT_FALSE(home.Lookup.MacroLookup(0, "Lexmark T640")->Hp);
}

TEST(OverlayLookup, RecordWalk)
{
    // Records are walked by their own length; a zero length ends the list,
    // as does a record that would start past the used length.
    std::string block = MacroRecords({{1, "A"}, {2, "TWENTY CHARACTERS 20XYZ"}});
    EXPECT_EQ(MacroListText(block), "1\tA\r\n2\tTWENTY CHARACTERS 20\r\n");  // names stop at 20 bytes
    std::string exact = MacroRecords({{5, "ABCDEFGHIJKLMNOPQRST"}}).substr(0, 33);
    exact[0] = 33;  // a name of 20 bytes needs no zero
    EXPECT_EQ(MacroListText(exact + MacroRecords({{6, "NEXT"}})), "5\tABCDEFGHIJKLMNOPQRST\r\n6\tNEXT\r\n");
    std::string tooShort = MacroRecords({{5, "SHORT"}});
    tooShort[0] = 20;  // the next "record" starts in this one's zeros: the walk ends
    EXPECT_EQ(MacroListText(tooShort + MacroRecords({{6, "NEXT"}})), "5\tSHORT\r\n");
    std::string zero = MacroRecords({{1, "A"}, {2, "B"}});
    zero[40] = 0;
    EXPECT_EQ(MacroListText(zero), "1\tA\r\n");
    EXPECT_EQ(MacroListText(block.substr(0, 10)), "1\t\r\n");  // fields past the end read as zero
    EXPECT_EQ(MacroName(block, 2), "TWENTY CHARACTERS 20");
    EXPECT_EQ(MacroName(MacroRecords({{7, "FIRST"}, {7, "SECOND"}}), 7), "FIRST");
    EXPECT_EQ(MacroName("", 1), "");
    EXPECT_EQ(MacroListText(std::string(3, '\xff')), "0\t\r\n");
}

TEST(OverlayLookup, GetMacros)
{
    const struct {
        TOverlayRequest request;
        const char* printer;
        std::string first;
        std::string other;
        std::vector<std::string> log;
    } cases[] = {
        {{"12", "", "", ""}, "HP Marked", "HP OVERLAY-12", "HP OVERLAY-12", {}},
        {{"7", "8", "", ""}, "HP Marked", "HP OVERLAY-7", "HP OVERLAY-8", {}},
        {{"3", "", "", ""}, "Lexmark T640", "LETTER", "LETTER", {}},
        {{"4", "", "", ""}, "Lexmark T640", "", "",
         {"Request for Printer Mask (Page 1) failed ERROR: Macro ID 4 not present in interface."}},
        {{"blank", "BLANK", "", ""}, "Lexmark T640", "", "",
         {"Request for Printer Mask (Page 1) failed ERROR: Macro ID blank not present in interface."}},
        {{"3", "4", "", ""}, "Lexmark T640", "LETTER", "", {}},  // other pages: a missing number is not logged
        {{"3", "x", "", ""}, "Lexmark T640", "LETTER", "", {}},
        {{"3", "2", "FORM1.prn", ""}, "Lexmark T640", "MERGE MACRO-FORM1.prn", "B", {}},
        {{"3", "", "GONE.prn", ""}, "Lexmark T640", "LETTER", "LETTER",
         {"ERROR: Request for OVERLAY failed GONE.prn does not exist."}},
        {{"", "2", "", "FORM1.prn"}, "Lexmark T640", "", "MERGE MACRO-FORM1.prn", {}},
        {{"", "2", "", "GONE.prn"}, "Lexmark T640", "", "B",
         {"Request for OVERLAY (other Pages) failed GONE.prn does not exist."}},
        {{"", "", "", "FORM1.prn"}, "Lexmark T640", "", "", {}},  // only looked at with PMASK2
        {{"5", "6", "", ""}, "HP Named", "", "",
         {"Request for Printer Mask (Page 1) failed ERROR: Not a Lexmark Printer",
          "Request for Printer Mask (Other pages) failed ERROR: Not a Lexmark Printer"}},
        {{"70000", "", "", ""}, "HP Marked", "HP OVERLAY-4464", "HP OVERLAY-4464", {}},  // 16 bits
    };
    for (const auto& c : cases) {
        TDriverHome home;
        const auto [first, other] = home.Macros(c.request, c.printer);
        const std::string what = c.request.PrintMask + "/" + c.request.PrintMask2 + " on " + c.printer;
        EXPECT_EQ(first, c.first) << what;
        EXPECT_EQ(other, c.other) << what;
        EXPECT_EQ(home.Log.Lines, c.log) << what;
    }
}

TEST(OverlayLookup, WriteMacroListAndTheLastBlock)
{
    TDriverHome home;
    EXPECT_EQ(Shown(home.Lookup.MacroLookup(0, "Lexmark T640")), "1\tA\r\n2\tB\r\n3\tLETTER\r\n");
    EXPECT_EQ(home.Lookup.LastMacroBlock.PrinterName, "Lexmark T640");
    const TMacroBlock copied = home.Lookup.LastMacroBlock;

    // Pasting the list onto another Lexmark printer, the whole block or part of it.
    EXPECT_EQ(Shown(home.Lookup.WriteMacroList("Lexmark Empty", copied.Bytes, static_cast<int>(copied.Bytes.size()))), "");
    EXPECT_EQ(Shown(home.Lookup.MacroLookup(0, "Lexmark Empty")), "1\tA\r\n2\tB\r\n3\tLETTER\r\n");
    EXPECT_EQ(Shown(home.Lookup.WriteMacroList("Lexmark NoList", copied.Bytes, 40)), "");
    EXPECT_EQ(Shown(home.Lookup.MacroLookup(0, "Lexmark NoList")), "1\tA\r\n");
    EXPECT_EQ(home.Lookup.LastMacroBlock.PrinterName, "Lexmark NoList");

    EXPECT_EQ(Shown(home.Lookup.WriteMacroList("HP Marked", copied.Bytes, 40)), "ERROR: Not a Lexmark Printer");
    EXPECT_EQ(Shown(home.Lookup.WriteMacroList("", copied.Bytes, 40)), "ERROR: No printer name.");

    // A file with a line that cannot be read is not rewritten (the line would be lost).
    WriteFile(home.Dir / "printerdriverdata.reg", ReadFile(home.Dir / "printerdriverdata.reg") + "\"broken\r\n");
    EXPECT_EQ(Shown(home.Lookup.WriteMacroList("Lexmark T640", copied.Bytes, 40)), "ERROR: Can't wrote data.");
    EXPECT_EQ(Shown(home.Lookup.MacroLookup(0, "Lexmark T640")), "1\tA\r\n2\tB\r\n3\tLETTER\r\n");
}

TEST(OverlayLookup, AWindowsExportOfAPrinterKeyWorksAsItIs)
{
    TTempDir dir;
    const std::string exported = "Windows Registry Editor Version 5.00\r\n\r\n" + PrinterKey("Lexmark X") +
                                 "\"MANUFACTURER\"=\"Lexmark International\"\r\n\"Macro\"=hex:" +
                                 RegHex(MacroRecords({{11, "INVOICE"}, {12, "DELIVERY NOTE"}})) + "\r\n\r\n";
    WriteFile(dir / "printerdriverdata.reg", Utf16Export(exported));
    TOverlayLookup lookup(dir / "printerdriverdata.reg");
    EXPECT_EQ(Shown(lookup.MacroLookup(0, "Lexmark X")), "11\tINVOICE\r\n12\tDELIVERY NOTE\r\n");
    EXPECT_EQ(Shown(lookup.MacroLookup(12, "LEXMARK X")), "DELIVERY NOTE");
    EXPECT_EQ(Shown(lookup.WriteMacroList("Lexmark X", MacroRecords({{1, "ONE"}}), 40)), "");
    EXPECT_EQ(ReadFile(dir / "printerdriverdata.reg").substr(0, 4), std::string("\xFF\xFEW\0", 4));
    EXPECT_EQ(Shown(lookup.MacroLookup(0, "Lexmark X")), "1\tONE\r\n");
}
