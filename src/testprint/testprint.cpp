#include "testprint/testprint.h"

#include "config/directorycheck.h"
#include "delivery/overlaylookup.h"
#include "util/fileutil.h"
#include "util/textutil.h"

#include <algorithm>

const char* const kResultTextTail =
    "^HV_TEXTFONT~Courier New^HV_TEXTSIZE~10^HV_RESULTTEXT~]]]{TOVA _PrintORB_ Test Result{[[[~~~This _line is "
    "underlined_~This {line is bold{~This |line is italics|~This [[line has small fonts]]~This ]]]]]line has large "
    "font[[[[[~T h i s  l i n e  is  u s i n g  d o u b l e  s p a c e s~~End Test Result. ";

namespace {

constexpr const char* kCaption = "Testing Settings";

// A tidied name box: trimmed, and without the extension its files have.
std::string WithoutExtension(const std::string& text, std::string_view extension)
{
    std::string name = Trim(text);
    if (LowerCase(ExtractFileExt(name)) == extension)
        name.resize(name.size() - extension.size());
    return name;
}

// The names of a folder's files matching the mask, without their extensions.
std::vector<std::string> NamesWithoutExtension(const std::string& mask)
{
    std::vector<std::string> names = ListedNames(ListFiles(mask, 0, 1));
    for (std::string& name : names)
        name.resize(name.size() - ExtractFileExt(name).size());
    return names;
}

bool Contains(const std::vector<std::string>& list, const std::string& text)
{
    return std::find(list.begin(), list.end(), text) != list.end();
}

}  // namespace

std::string SampleRequest(std::string_view letterhead, std::string_view procedure, std::string_view requestNumber,
                          std::string_view printerNumber, std::string_view validation, std::string_view overlay,
                          std::string_view tray)
{
    const std::pair<const char*, std::string_view> fields[] = {
        {"TEMPLATE", letterhead},
        {"REQCODE", requestNumber},
        {"PROCCODE", procedure},
        {"PATCODE", "P0001"},
        {"PATSUR", "XXXXXXXXXXXXXXXXXXX"},
        {"PATGIVEN", "XXXXXXXXXXXXXXXX"},
        {"PATTITLE", "MRS"},
        {"PATADD1", "UNIT XX/XX XXXXXXXX ST"},
        {"PATADD2", "(PO BOX XXXXX)"},
        {"PATADD3", "PATIENTVILLE VIC"},
        {"PATPC", "99999"},
        {"PATAGE", "99.9"},
        {"PATDOB", "01 JAN 1901"},
        {"PATGENDER", "F"},
        {"TERM", "XX"},
        {"DOCCODE", "B9999"},
        {"DOCSUR", "XXXXXXXXXXXXXXXXXXX"},
        {"DOCGIVEN", "XXXXXXXXXXXXXXXX"},
        {"DOCTITLE", "DR"},
        {"DOCADD1", "BLOGGS ROAD CLINIC"},
        {"DOCADD2", "999 BLOGGS ROAD"},
        {"DOCADD3", "YYYYYYYYYYYYY"},
        {"DOCPC", "9999 "},
        {"DOCPROVIDER", "9999999X"},
        {"DOCPHONE", "99999999"},
        {"WARD", "UUUUUU"},
        {"WARDHIGHLIGHT", "XXXXX"},
        {"YOURREF", "XYZ123"},
        {"SERVICEDATE", "01 Jan 2001"},
        {"PRINTER", printerNumber},
        {"PMASK", overlay},
        {"PAPERTRAY", tray},
        {"OTHERTESTS", "ABCD,EFGH,HIJK"},
        {"VALIDATED", validation},
        {"REPORTFLAG", ".."},
        {"SERVICEDATE", "01/01/2001"},
    };
    std::string text;
    for (const auto& [name, value] : fields) {
        if (!text.empty())
            text += '^';
        text += "HV_";
        text += name;
        text += '~';
        text += value;
    }
    return text;
}

void TTestPrint::testingtabEnter()
{
    std::vector<std::string> entries;
    for (const std::string& line : C.Printers.Printerlist())
        entries.push_back(ReplaceAll(line, "=", " - "));
    if (entries == PrinterNumbers && !PrinterNumbers.empty())
        return;
    PrinterNumbers = std::move(entries);
    if (!Contains(PrinterNumbers, PrinterNumberText))
        PrinterNumberText.clear();
    Letterheads.clear();
    Procedures = NamesWithoutExtension(C.Config.TemplatesDir + "*.tpl");
    if (Procedures.empty())
        return;  // no template: both lists stay empty
    Letterheads = NamesWithoutExtension(C.Config.TemplatesDir + "*.doc");
}

std::string TTestPrint::PrinterOfNumber(std::string_view number) const
{
    std::string printer;
    for (const std::string& line : C.Printers.Printerlist())
        if (TPrinterTable::NumberOf(line) == number)
            printer = TPrinterTable::PrinterNameOf(line);
    return printer;
}

void TTestPrint::ShowOverlaysOf(const std::string& printer)
{
    const TResult<TMacroAnswer> found = C.Pipeline.Overlays().MacroLookup(0, printer);
    Overlays.clear();
    OverlayLabelDimmed = !found;
    OverlayEditable = found && found->Hp;
    if (!found)
        return;
    if (found->Hp) {
        Overlays = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "100", "200", "1000", "2000", "5000"};
        return;
    }
    for (const std::string& line : SplitLines(ReplaceAll(found->Text, "\t", " ")))
        if (!line.empty())
            Overlays.push_back(line);
}

void TTestPrint::PrinterNumberExit()
{
    const std::string number = Trim(TextBefore(PrinterNumberText, "-"));
    if (number.empty() || C.Pipeline.State().SpoolHeld)
        return;
    C.Pipeline.SelectPrinterByNumber(number);
    Trays.clear();
    for (const std::string& tray : SplitLines(C.Pipeline.Device().ListPrinterTrays()))
        if (!tray.empty())
            Trays.push_back(tray);

    // The overlays of the printer the table names for this number; an
    // overlay typed or picked for another printer does not carry over.
    ShowOverlaysOf(PrinterOfNumber(number));
    if (number != FOverlaysFor)
        OverlayText.clear();
    FOverlaysFor = number;
    // A pick-only box shows only what its list holds.
    if (!OverlayEditable && !Contains(Overlays, OverlayText))
        OverlayText.clear();
}

void TTestPrint::TestLhEditExit()
{
    LetterheadText = WithoutExtension(LetterheadText, ".doc");
}

void TTestPrint::TestProcEditExit()
{
    ProcedureText = WithoutExtension(ProcedureText, ".tpl");
}

void TTestPrint::TestlhEditChange()
{
    InfoVisible = false;
    InfoText.clear();
}

TOutcome TTestPrint::WriteTestFile(const char* name, const std::string& text)
{
    const std::string path = C.Config.SpoolDir + name;
    if (const TOutcome written = WriteFileAtomic(path, text + "\r\n"); !written)
        return Fail(path + ": " + written.Reason());
    return TOutcome::Done();
}

void TTestPrint::TestPrintClick()
{
    Focus = TField::None;
    const std::string printerNumber = Trim(TextBefore(PrinterNumberText, " "));
    if (Trim(LetterheadText).empty()) {
        Focus = TField::Letterhead;
        return;
    }
    if (Trim(ProcedureText).empty()) {
        Focus = TField::Procedure;
        return;
    }
    if (printerNumber.empty()) {
        Focus = TField::PrinterNumber;
        return;
    }
    TPrompts& prompts = C.Prompts();
    if (!CheckDirectories(C.Config, prompts))
        return;

    std::string letterhead = LetterheadText;
    if (!FileExists(C.Config.TemplatesDir + letterhead + ".doc")) {
        const std::string question = "The Letterhead " + letterhead + " does not exist\r\n" +
                                     "If you proceed, The test will attempt to use the " + " default letterhead.\r\n" +
                                     "Do you want to continue?";
        if (!prompts.AskYesNo(kCaption, question)) {
            Focus = TField::Letterhead;
            return;
        }
        if (!FileExists(C.Config.TemplatesDir + C.Config.DefLetterhead + ".doc")) {
            prompts.ShowMessage(kCaption, "Test failed : no Test or default Letterhead defined", TPrompts::Icon::Error);
            return;
        }
        letterhead = C.Config.DefLetterhead;
    }

    const std::string procedure = ProcedureText;
    const bool templateTest = FileExists(C.Config.TemplatesDir + procedure + ".tpl");
    if (!templateTest)
        prompts.ShowMessage(kCaption, "Warning!!! No template exists for " + procedure + "\r\n", TPrompts::Icon::Warning);

    const std::string validation = Validated ? "VALIDATION PERSON" : "";
    const std::string overlay = Trim(TextBefore(OverlayText, " "));
    const std::string tray = Trim(TrayText);

    TOutcome written = TOutcome::Done();
    if (templateTest)
        written = WriteTestFile(kTemplateFile, SampleRequest(letterhead, procedure, "00000001", printerNumber,
                                                             validation, overlay, tray));
    if (written)
        written = WriteTestFile(kResultFile, SampleRequest(letterhead, procedure, "00000000", printerNumber, validation,
                                                           overlay, tray) +
                                                 kResultTextTail);
    if (!written) {
        prompts.ShowMessage(kCaption,
                            "The test spool file could not be saved to the spooler file.\r\nThe error was " +
                                written.Reason() +
                                "\r\n" + "If this problem relates to file permissions then you must \r\n" +
                                "correct this problem before proceeding.\r\n" +
                                "This Print server MUST have read and write privledges " + " to work properly.\r\n",
                            TPrompts::Icon::Error);
        return;
    }
    C.Log.loginfo(std::string(templateTest ? "Test spooler files" : "Test spooler file") + " written to " +
                    C.Config.SpoolDir);
    InfoText = templateTest ? "Test spooler files submitted.\r\n#00000000 is a Result\r\n#00000001 is the template\r\n"
                              "Watch the log for further information."
                            : "Test spooler file submitted.\r\n#00000000 is a Result\r\nWatch the log for further "
                              "information.";
    InfoVisible = true;
}
