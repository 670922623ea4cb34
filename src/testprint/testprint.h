// The Testing page without its widgets: the operator picks a letterhead, a
// procedure, a printer number, an overlay and a tray, and the page writes one
// or two sample requests into the spool folder, which the spool tick then
// takes like any other. The page's widgets mirror this state.
#pragma once

#include "config/serverconfig.h"
#include "printers/printertable.h"
#include "spool/pipeline.h"
#include "util/logger.h"
#include "util/prompts.h"
#include "util/result.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A sample request: one line of "HV_NAME~value" fields joined by "^".
std::string SampleRequest(std::string_view letterhead, std::string_view procedure, std::string_view requestNumber,
                          std::string_view printerNumber, std::string_view validation, std::string_view overlay,
                          std::string_view tray);

// What the result test request carries after the sample request.
extern const char* const kResultTextTail;

class TTestPrint {
public:
    enum class TField { None, Letterhead, Procedure, PrinterNumber };

    // What the page works with: the pipeline (is a job under way, the
    // printer's trays and overlays), the running settings, the printer table.
    struct TContext {
        TJobPipeline& Pipeline;
        const TServerConfig& Config;
        const TPrinterTable& Printers;
        std::function<TPrompts&()> Prompts;
        TLogger& Log;
    };

    explicit TTestPrint(TContext context) : C(std::move(context)) {}

    void testingtabEnter();
    void PrinterNumberExit();
    void TestLhEditExit();
    void TestProcEditExit();
    void TestlhEditChange();
    void TestPrintClick();

    // The boxes: their lists and their texts.
    std::vector<std::string> Letterheads;
    std::string LetterheadText;
    std::vector<std::string> Procedures;
    std::string ProcedureText;
    std::vector<std::string> PrinterNumbers;  // "<n> - <printer name>"
    std::string PrinterNumberText;
    std::vector<std::string> Overlays;
    std::string OverlayText;
    bool OverlayEditable = false;  // any number may be typed (HP printers)
    bool OverlayLabelDimmed = false;
    std::vector<std::string> Trays;
    std::string TrayText;
    bool Validated = false;

    // The information label.
    bool InfoVisible = false;
    std::string InfoText;
    // The box that should take the focus, set by a check that failed.
    TField Focus = TField::None;

    static constexpr const char* kTemplateFile = "test_spoolerfile1.tvq";
    static constexpr const char* kResultFile = "test_spoolerfile2.tvq";

private:
    // Writes one test file into the spool folder, whole or not at all.
    TOutcome WriteTestFile(const char* name, const std::string& text);

    // The printer list's line for a number: its printer name, empty when none.
    std::string PrinterOfNumber(std::string_view number) const;
    void ShowOverlaysOf(const std::string& printer);

    TContext C;
    std::string FOverlaysFor;  // the printer number whose overlays the box lists
};
