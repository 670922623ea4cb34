#include "spool/reportjob.h"

#include "compose/finishing.h"
#include "compose/resulttext.h"
#include "request/base64.h"
#include "compose/templateimages.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/outputfile.h"
#include "util/textutil.h"

#include <cmath>
#include <optional>

namespace {

constexpr double kPixelsPerMm = 3.7795;
constexpr int kTwipsPerPixel = 15;
constexpr double kTwipsPerMm = kPixelsPerMm * kTwipsPerPixel;


// The picture's size fits the request's target width and height, when it gives them.
void ScaleToTarget(TJobContext& job, TImageRecord& image, const std::string& document)
{
    job.ImageProbe.SetImageName(image.FileName);
    const QImage& picture = job.ImageProbe.Picture();
    if (!job.ImageProbe.LastError().empty() || picture.isNull()) {
        job.Log.logwarning("The image " + image.FileName + " is missing for Document " + document);
        return;
    }
    if (image.TargetWidth != 0)
        image.ScaleX = static_cast<int>(std::trunc(double(image.TargetWidth) / picture.width() * 100));
    if (image.TargetHeight != 0)
        image.ScaleY = static_cast<int>(std::trunc(double(image.TargetHeight) / picture.height() * 100));
}

void PlaceImage(TJobContext& job, TImageRecord& image, const std::string& document)
{
    if (!FileExists(image.FileName)) {
        job.Log.logwarning("The image " + image.FileName + " was not present for Document " + document);
        return;
    }
    if (image.FromRequest)
        ScaleToTarget(job, image, document);
    if (!job.Engine.InsertImage(ToUnicode(image.FileName), image))
        job.Log.logwarning("The image " + image.FileName + " Failed to load for Document " + document);
}

// Every image of the record; one that fails is logged and the others still go in.
void PlaceImages(TJobContext& job)
{
    const std::string document = job.Record.GetReqCode() + " " + job.Record.GetProcCode();
    for (TImageRecord& image : job.Record.Images) {
        // What the engine's change hook raises (the window's view) is logged.
        try {
            PlaceImage(job, image, document);
        } catch (const std::exception& failure) {
            job.Log.logerror(failure.what());
        }
    }
}

// The letterhead's whole document and its page layout; the job goes on
// without it when it cannot be loaded.
void LoadLetterhead(TJobContext& job)
{
    DocumentEngine& e = job.Engine;
    TReportRecord& r = job.Record;
    // A page size or margin the engine refuses counts as no letterhead.
    const bool loaded = e.LoadDocument(ToUnicode(job.TemplatesDir + r.TemplateName + ".doc")) &&
                        e.SetPageWidth(e.LoadSaveAttribute(0)) && e.SetPageHeight(e.LoadSaveAttribute(1)) &&
                        e.SetPageMarginL(e.LoadSaveAttribute(2)) && e.SetPageMarginR(e.LoadSaveAttribute(4)) &&
                        e.SetPageMarginT(e.LoadSaveAttribute(3)) && e.SetPageMarginB(e.LoadSaveAttribute(5));
    if (!loaded) {
        job.Log.logwarning("Could not load a Letterhead for this template " + r.TemplateName);
        return;
    }
    FillPageSetup(job.PageSetup, e.PageWidth(), e.PageHeight(), r.GetValue("ORIENTATION"), r.GetValue("PAPERSIZE"),
                  job.Log);
}

// The request's document decoded into its file, whole or not at all.
TOutcome WriteDecoded(std::string_view base64, const std::string& path, const TProtectedPlaces& places)
{
    TOutputFile file;
    if (TOutcome opened = file.Open(path, places); !opened)
        return opened;
    TOutcome written;
    if (!DecodeBase64Blocks(base64, [&](std::string_view bytes) {
            written = file.Write(bytes);
            return written.Ok();
        }))
        return written;
    return file.Commit();
}

// The document that gives the report its body: the one decoded from the
// request (written to the results folder), else the procedure's template.
// It takes the place of the first length characters of the main text. Sets
// CurrentDocPath; an exit when the job cannot go on.
std::optional<TComposeExit> LoadBodyDocument(TJobContext& job, std::string_view spoolName, int length,
                                             TComposeResult& result)
{
    TReportRecord& r = job.Record;
    result.CurrentDocPath = job.ResultsDir + EscapeFileName(r.GetReqCode() + "_" + r.GetProcCode() + ".doc");
    if (!r.EmbeddedDocument.empty()) {
        if (const TOutcome written = WriteDecoded(r.EmbeddedDocument, result.CurrentDocPath, job.ProtectedPlaces);
            !written) {
            result.Failure = "The File Encoded Halvorin data in file " + std::string(spoolName) +
                             " could not be created locally.";
            job.Log.logerror(result.Failure);
            job.Log.logerror(result.CurrentDocPath + ": " + written.Reason());
            result.Cause =
                Reworded(written.Failure(), result.Failure + " " + result.CurrentDocPath + ": " + written.Reason());
            return TComposeExit::EmbeddedNotWritten;
        }
    } else {
        result.CurrentDocPath = job.TemplatesDir + EscapeFileName(r.GetProcCode()) + ".tpl";
        if (!FileExists(result.CurrentDocPath))
            job.Log.logwarning("No template exists for " + r.GetProcCode() + " in a Letterhead print request.");
    }
    if (!FileExists(result.CurrentDocPath))
        return std::nullopt;
    if (const TOutcome loaded = job.Engine.InsertDocument(ToUnicode(result.CurrentDocPath), 0, length); !loaded) {
        result.Failure = " Error loading " + result.CurrentDocPath + " with " + loaded.Reason();
        result.Cause = Fail(result.Failure);
        job.Log.logerror(result.Failure);
        return TComposeExit::DocumentNotLoaded;
    }
    ScanTemplateImages(result.CurrentDocPath, r.Images);
    if (LowerCase(ExtractFileExt(result.CurrentDocPath)) != ".tpl")
        DeleteFileAt(result.CurrentDocPath);
    return std::nullopt;
}

// Letterhead, body, merge and finishing, images and markers.
std::optional<TComposeExit> Compose(TJobContext& job, std::string_view spoolName, TComposeResult& result)
{
    DocumentEngine& e = job.Engine;
    TReportRecord& r = job.Record;
    LoadLetterhead(job);
    // The body takes the place of the letterhead's main text. A result text
    // whose placeholder could not be made is shown up to it.
    const int letterheadText = static_cast<int>(e.PartText(DocumentEngine::MainPart).size());
    if (!r.ResultText.empty())
        RenderResultText(e, DocumentEngine::MainPart, 0, letterheadText, r.ResultText, r.GetValue("TEXTFONT"),
                         r.GetValue("TEXTSIZE"));
    else if (const std::optional<TComposeExit> exit = LoadBodyDocument(job, spoolName, letterheadText, result))
        return exit;
    e.SetViewMode(1);
    if (const TOutcome finished = FinishReport(e, r, job.TagList); !finished) {
        result.Failure = finished.Reason();
        result.Cause = finished.Failure();
        return TComposeExit::EngineFailed;
    }
    PlaceImages(job);
    // The first "¥" of the text is taken out.
    e.ReplaceMarker(DocumentEngine::MainPart, QString(QChar(0x00A5)), QString(), 1);
    ApplyTextMarkers(e, r);
    return std::nullopt;
}

}  // namespace

void ResetPageSetup(DocumentEngine& engine, std::string_view pageMargin)
{
    int margins[4] = {5, 5, 8, 5};  // left, right, top, bottom
    if (!pageMargin.empty())
        for (int k = 0; k < 4; ++k)
            if (const auto value = TryStrToInt(Trim(NthField(pageMargin, ',', k + 1))))
                margins[k] = *value;
    const int width = static_cast<int>(std::trunc(kPixelsPerMm * 210));
    const int height = static_cast<int>(std::trunc(kPixelsPerMm * 297));
    auto twips = [](int mm) { return static_cast<int>(std::trunc(mm * kTwipsPerMm)); };
    engine.SetFormatSelection(false);
    // Each on its own: a size or margin the engine refuses leaves the one before.
    static_cast<void>(engine.SetPageHeight(height * kTwipsPerPixel));
    static_cast<void>(engine.SetPageMarginT(twips(margins[2])));
    static_cast<void>(engine.SetPageMarginB(twips(margins[3])));
    static_cast<void>(engine.SetPageWidth(width * kTwipsPerPixel));
    static_cast<void>(engine.SetPageMarginL(twips(margins[0])));
    static_cast<void>(engine.SetPageMarginR(twips(margins[1])));
    engine.SetFormatSelection(true);
    engine.SetHeaderFooter(5);
    engine.SetHeaderFooterStyle(2);
    engine.SetViewMode(1);
    engine.Refresh();
}

void StartReport(DocumentEngine& engine, std::string_view pageMargin)
{
    engine.ClearDocument();
    ResetPageSetup(engine, pageMargin);
}

bool IsUnprintable(const TReportRecord& record)
{
    return (record.GetReqCode().empty() || record.GetProcCode().empty()) && record.ScanId.empty();
}

std::string UnprintableMessage(std::string_view spoolName)
{
    return "Spooler file " + std::string(spoolName) + " was unpritable because \r\n" +
           "  either there was no Request or Procedure code; OR\r\n" +
           "  A PDF or Scanned Image print request was not specified.";
}

std::string OutputFileNameFor(const TReportRecord& record, std::string_view lprQueueDir, std::string_view spoolName)
{
    if (!record.OutputDocument.empty()) {
        std::string name = record.OutputDocument;
        if (const auto comma = name.find(','); comma != std::string::npos) {
            name[comma] = '_';
            // Folder names differ by case here, unlike on the original
            // platform: only the file name is put in lower case.
            const auto folder = name.find_last_of("/\\");
            const std::size_t start = folder == std::string::npos ? 0 : folder + 1;
            name = name.substr(0, start) + LowerCase(std::string_view(name).substr(start));
        }
        // Path separators survive; what cannot stand in a file name stays escaped.
        return ReplaceAll(ReplaceAll(EscapeFileName(name), "%5C", "\\"), "%2F", "/");
    }
    // A page with an overlay goes into the LPR queue under a name made from
    // this one, so a job with an overlay but no PMASK gets one too (with an
    // empty overlay field); without any overlay the report is only printed.
    const bool overlay = !record.PrintMask.empty() || !record.PrintMask2.empty() || !record.PrnFileName.empty() ||
                         !record.PrnOtherFileName.empty();
    if (!overlay)
        return {};
    return std::string(lprQueueDir) + record.PrintMask + "_" + Trim(record.PrinterNumber) + "_" +
           std::string(spoolName) + ".prn";
}

TComposeResult ComposeReport(TJobContext& job, std::string_view spoolName)
{
    TComposeResult result;
    // What else goes wrong (the window's view hook, memory) fails the job
    // the same way, to be tried again.
    try {
        if (const std::optional<TComposeExit> exit = Compose(job, spoolName, result))
            result.Exit = *exit;
    } catch (const std::exception& failure) {
        result.Exit = TComposeExit::EngineFailed;
        result.Failure = failure.what();
        result.Cause = Fail(result.Failure);
    }
    return result;
}
