#include "platform/printing/printinglayer.h"

#include "util/codepage.h"
#include "util/textutil.h"

#include <QDateTime>
#include <QString>
#include <cups/cups.h>
#include <cups/ppd.h>

#include <unistd.h>

void THttpClose::operator()(http_t* http) const
{
    httpClose(http);
}

// libcups would otherwise keep the first server it read.
THttpConnection ConnectScheduler()
{
    cupsSetServer(nullptr);
    THttpConnection http(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                      TPrintingLayer::kSchedulerTimeoutMs, nullptr));
    if (http)
        httpSetTimeout(http.get(), TPrintingLayer::kSchedulerTimeoutMs / 1000.0, nullptr, nullptr);
    return http;
}

int CreateJobOn(http_t* http, const std::string& queue, const std::string& utf8Title)
{
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), "/printers/%s",
                     queue.c_str());
    ipp_t* request = ippNewRequest(IPP_OP_CREATE_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, utf8Title.c_str());
    const std::string resource = "/printers/" + queue;
    ipp_t* response = cupsDoRequest(http, request, resource.c_str());  // frees the request
    int job = 0;
    if (response && ippGetStatusCode(response) <= IPP_STATUS_OK_CONFLICTING)
        if (ipp_attribute_t* id = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER))
            job = ippGetInteger(id, 0);
    ippDelete(response);
    return job;
}

namespace {

// Destinations of the scheduler that CUPS_SERVER (or the local socket) names.
struct TDestList {
    bool Answered = false;
    int count = 0;
    cups_dest_t* dests = nullptr;

    TDestList()
    {
        const THttpConnection http = ConnectScheduler();
        if (!http)
            return;
        Answered = true;
        count = cupsGetDests2(http.get(), &dests);
    }
    ~TDestList() { cupsFreeDests(count, dests); }
    TDestList(const TDestList&) = delete;
    TDestList& operator=(const TDestList&) = delete;
};

std::string SystemText(const char* utf8)
{
    return FromUnicode(QString::fromUtf8(utf8));
}

std::string Utf8(std::string_view systemText)
{
    return ToUnicode(systemText).toStdString();
}

// The PCL paper source a driver's tray code stands for: the MediaPosition of
// a PostScript set-up ("<</MediaPosition 8>>setpagedevice") or an
// "ESC&l#H" command.
int PclSourceOf(const char* code)
{
    if (!code)
        return 0;
    const std::string text = code;
    for (const char* key : {"MediaPosition", "&l"}) {
        const auto at = text.find(key);
        if (at == std::string::npos)
            continue;
        std::size_t i = at + std::char_traits<char>::length(key);
        while (i < text.size() && text[i] == ' ')
            ++i;
        int value = 0;
        bool digits = false;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && value < 10000) {
            value = value * 10 + (text[i++] - '0');
            digits = true;
        }
        if (digits)
            return value;
    }
    return 0;
}

}  // namespace

int MatchTray(const std::vector<std::string>& trayNames, std::string_view tray)
{
    const std::string wanted = LowerCase(tray);
    for (std::size_t i = 0; i < trayNames.size(); ++i)
        if (LowerCase(trayNames[i]) == wanted)
            return static_cast<int>(i) + 1;
    return 0;
}

std::string TDestinations::Find(std::string_view name) const
{
    for (const std::string& installed : Names)
        if (SameText(installed, name))
            return installed;
    return {};
}

TDestinations TPrintingLayer::Destinations(int maxAgeMs) const
{
    const long long now = QDateTime::currentMSecsSinceEpoch();
    // What was said is kept per scheduler, its port included.
    const std::string server = SchedulerName();
    if (maxAgeMs > 0 && FDestinations && FDestinations->Server == server && now - FDestinations->At < maxAgeMs)
        return FDestinations->Said;
    TDestinations said;
    TDestList list;
    said.Answered = list.Answered;
    for (int i = 0; i < list.count; ++i) {
        if (list.dests[i].instance)
            continue;  // one entry per queue, not per saved option set
        said.Names.push_back(SystemText(list.dests[i].name));
        if (list.dests[i].is_default)
            said.Default = said.Names.back();
    }
    if (said.Answered)
        FDestinations = TKeptDestinations {server, now, said};
    else
        FDestinations.reset();
    return said;
}

void TPrintingLayer::Forget() const
{
    FDestinations.reset();
    FPrinters.clear();
}

std::string TPrintingLayer::SchedulerName() const
{
    cupsSetServer(nullptr);
    const std::string server = cupsServer();
    // A local socket is named by its path; a host by host and port.
    return !server.empty() && server[0] == '/' ? server : server + ":" + std::to_string(ippPort());
}

TResult<TDestinationState> TPrintingLayer::DestinationState(const std::string& printer) const
{
    const THttpConnection http = ConnectScheduler();
    if (!http)
        return FailOutage("the print system at " + SchedulerName() + " does not answer");
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), "/printers/%s",
                     Utf8(printer).c_str());
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    static const char* const kWanted[] = {"printer-state", "printer-is-accepting-jobs", "printer-state-message"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, kWanted);
    ipp_t* response = cupsDoRequest(http.get(), request, "/");  // frees the request
    const ipp_status_t status = response ? ippGetStatusCode(response) : cupsLastError();
    if (!response || status > IPP_STATUS_OK_CONFLICTING) {
        ippDelete(response);
        const std::string why = SystemText(cupsLastErrorString());
        if (status == IPP_STATUS_ERROR_NOT_FOUND)
            return Fail("the print system at " + SchedulerName() + " has no printer " + printer);
        return FailOutage("the print system at " + SchedulerName() + " does not answer for " + printer + ": " + why);
    }
    TDestinationState state;
    if (ipp_attribute_t* attr = ippFindAttribute(response, "printer-is-accepting-jobs", IPP_TAG_BOOLEAN))
        state.Accepting = ippGetBoolean(attr, 0) != 0;
    if (ipp_attribute_t* attr = ippFindAttribute(response, "printer-state", IPP_TAG_ENUM)) {
        state.Stopped = ippGetInteger(attr, 0) == IPP_PSTATE_STOPPED;
        state.Processing = ippGetInteger(attr, 0) == IPP_PSTATE_PROCESSING;
    }
    if (ipp_attribute_t* attr = ippFindAttribute(response, "printer-state-message", IPP_TAG_TEXT))
        if (const char* text = ippGetString(attr, 0, nullptr))
            state.Message = SystemText(text);
    ippDelete(response);
    return state;
}

std::optional<std::vector<std::string>> TPrintingLayer::ListPrinters() const
{
    TDestinations said = Destinations(0);
    if (!said.Answered)
        return std::nullopt;
    return std::move(said.Names);
}

std::vector<std::string> TPrintingLayer::InstalledPrinters() const
{
    return ListPrinters().value_or(std::vector<std::string>());
}

std::string TPrintingLayer::SystemDefaultPrinter() const
{
    return Destinations(0).Default;
}

TResult<std::shared_ptr<TPrinterHandle>> TPrintingLayer::OpenPrinter(std::string_view name)
{
    const long long now = QDateTime::currentMSecsSinceEpoch();
    const std::string server = SchedulerName();
    const std::string key = LowerCase(name);
    if (const auto kept = FPrinters.find(key);
        kept != FPrinters.end() && kept->second.Server == server && now - kept->second.At < kPrinterReuseMs)
        return kept->second.Handle;
    FPrinters.erase(key);
    THttpConnection http = ConnectScheduler();
    if (!http)
        return Fail("the print scheduler " + std::string(cupsServer()) + " does not answer");
    cups_dest_t* dest = cupsGetNamedDest(http.get(), Utf8(name).c_str(), nullptr);
    if (!dest)
        return Fail("the print scheduler " + std::string(cupsServer()) + " has no printer " + std::string(name));
    std::shared_ptr<TPrinterHandle> handle(new TPrinterHandle(*this, std::move(http), dest));
    FPrinters[key] = TKeptPrinter {server, now, handle};
    return handle;
}

TPrinterHandle::TPrinterHandle(TPrintingLayer& layer, THttpConnection http, cups_dest_t* dest)
    : FLayer(layer), FHttpOwner(std::move(http)), FHttp(FHttpOwner.get()), FDest(dest), FName(SystemText(dest->name))
{
    FInfo = cupsCopyDestInfo(FHttp, FDest);
    LoadTrays();
}

TPrinterHandle::~TPrinterHandle()
{
    if (FInfo)
        cupsFreeDestInfo(FInfo);
    cupsFreeDests(1, FDest);
}

// CUPS keeps a driver's tray names and the InputSlot keywords that jobs ask
// for them with only in the printer's PPD; the IPP media-source values do not
// map back to InputSlot. So the PPD interface stays, deprecated as it is.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
void TPrinterHandle::LoadTrays()
{
    char path[1024] = "";
    time_t modified = 0;
    if (cupsGetPPD3(FHttp, FDest->name, &modified, path, sizeof path) != HTTP_STATUS_OK)
        return;
    if (ppd_file_t* ppd = ppdOpenFile(path)) {
        if (ppd_option_t* slot = ppdFindOption(ppd, "InputSlot")) {
            for (int i = 0; i < slot->num_choices; ++i) {
                const ppd_choice_t& choice = slot->choices[i];
                FTrays.push_back({SystemText(choice.text[0] ? choice.text : choice.choice), choice.choice,
                                  PclSourceOf(choice.code)});
                if (std::string_view(choice.choice) == slot->defchoice)
                    FDefaultTray = i + 1;
            }
        }
        ppdClose(ppd);
    }
    ::unlink(path);  // a copy made for this call
}
#pragma GCC diagnostic pop

TDevMode TPrinterHandle::DocumentProperties() const
{
    TDevMode mode;
    mode.SetDeviceName(FName);
    std::uint32_t fields = TDevMode::DM_ORIENTATION | TDevMode::DM_PAPERSIZE;
    cups_size_t size {};
    int paper = 0;
    if (FInfo && cupsGetDestMediaDefault(FHttp, FDest, FInfo, CUPS_MEDIA_FLAGS_DEFAULT, &size))
        paper = PaperCodeOfMedia(size.media);
    mode.SetPaperSize(paper ? paper : kPaperA4);
    int orientation = TDevMode::DMORIENT_PORTRAIT;
    if (FInfo)
        if (ipp_attribute_t* a = cupsFindDestDefault(FHttp, FDest, FInfo, CUPS_ORIENTATION))
            if (ippGetInteger(a, 0) == IPP_ORIENT_LANDSCAPE)
                orientation = TDevMode::DMORIENT_LANDSCAPE;
    mode.SetOrientation(orientation);
    if (!FTrays.empty()) {
        mode.SetDefaultSource(FDefaultTray);
        fields |= TDevMode::DM_DEFAULTSOURCE;
    }
    mode.SetFields(fields);
    return mode;
}

void TPrinterHandle::MergeDocumentProperties(TDevMode& mode) const
{
    if (mode.Orientation() != TDevMode::DMORIENT_PORTRAIT && mode.Orientation() != TDevMode::DMORIENT_LANDSCAPE)
        mode.SetOrientation(TDevMode::DMORIENT_PORTRAIT);
    if (PaperOf(mode.PaperSize()).Code != mode.PaperSize())
        mode.SetPaperSize(kPaperA4);
    if (mode.DefaultSource() < 0 || mode.DefaultSource() > static_cast<int>(FTrays.size()))
        mode.SetDefaultSource(FDefaultTray);
}

TResult<std::unique_ptr<TPrinterDC>> TPrinterHandle::CreateDC(const TDevMode& mode) const
{
    if (mode.DeviceName().empty())
        return Fail("the device mode names no printer");
    TDeviceCaps caps;
    caps.Destination = FName;
    const int tray = mode.DefaultSource();
    if (tray >= 1 && tray <= static_cast<int>(FTrays.size())) {
        caps.TrayChoice = FTrays[static_cast<std::size_t>(tray - 1)].Choice;
        caps.PclSource = FTrays[static_cast<std::size_t>(tray - 1)].PclSource;
    }
    cups_size_t size {};
    if (FInfo && cupsGetDestMediaByName(FHttp, FDest, FInfo, PaperOf(mode.PaperSize()).PwgName,
                                        CUPS_MEDIA_FLAGS_DEFAULT, &size)) {
        // Hundredths of a millimetre.
        caps.MarginLeft = static_cast<int>(static_cast<long long>(size.left) * TPrinterDC::kDpi / 2540);
        caps.MarginTop = static_cast<int>(static_cast<long long>(size.top) * TPrinterDC::kDpi / 2540);
    }
    return std::make_unique<TPrinterDC>(FLayer, mode, caps);
}

TResult<int> TPrintingLayer::PrintPdf(const std::string& printer, const std::string& title, const std::string& pdf,
                                      const std::vector<std::pair<std::string, std::string>>& options)
{
    std::string destination = printer.empty() ? CurrentPrinter : printer;
    if (destination.empty())
        destination = SystemDefaultPrinter();
    if (destination.empty())
        return Fail("There is no printer to print on.");
    const TResult<std::shared_ptr<TPrinterHandle>> handle = OpenPrinter(destination);
    if (!handle)
        return Fail("The print scheduler " + std::string(cupsServer()) + " does not answer (printer " + destination +
                    ": " + handle.Reason() + ").");
    TResult<int> job = (*handle)->SubmitPdf(title, pdf, options);
    if (!job) {
        Forget();  // what was kept of the printers may be what failed
        return Fail(job.Reason() + " (printer " + destination + ")");
    }
    return job;
}

TResult<int> TPrinterHandle::SubmitPdf(const std::string& title, const std::string& pdf,
                                       const std::vector<std::pair<std::string, std::string>>& options)
{
    // Through the printer's own connection and information: a job created by
    // name would ask the scheduler for both again.
    const std::string jobTitle = Utf8(title);
    int numOptions = 0;
    cups_option_t* cupsOptions = nullptr;
    for (const auto& [key, value] : options)
        numOptions = cupsAddOption(key.c_str(), value.c_str(), numOptions, &cupsOptions);
    int job = 0;
    std::string error;
    if (cupsCreateDestJob(FHttp, FDest, FInfo, &job, jobTitle.c_str(), numOptions, cupsOptions) > IPP_STATUS_OK_CONFLICTING ||
        job <= 0) {
        error = cupsLastErrorString();
    } else if (cupsStartDestDocument(FHttp, FDest, FInfo, job, jobTitle.c_str(), CUPS_FORMAT_PDF, 0, nullptr, 1) !=
                   HTTP_STATUS_CONTINUE ||
               cupsWriteRequestData(FHttp, pdf.data(), pdf.size()) != HTTP_STATUS_CONTINUE ||
               cupsFinishDestDocument(FHttp, FDest, FInfo) > IPP_STATUS_OK_CONFLICTING) {
        error = cupsLastErrorString();
        cupsCancelDestJob(FHttp, FDest, job);
    }
    cupsFreeOptions(numOptions, cupsOptions);
    if (!error.empty())
        return Fail(FromUnicode(QString::fromUtf8(error.c_str())));
    return job;
}

namespace {

struct TJobSeen {
    int Id;
    ipp_jstate_t State;
    int Size;  // k-octets of its document; 0 while it has none
};

// This user's jobs on the printer with that title, created at or after that
// time (seconds since the epoch).
TResult<std::vector<TJobSeen>> JobsTitled(http_t* http, const std::string& printer, const std::string& title,
                                          long long createdSince, int which)
{
    if (!http)
        return Fail("The print scheduler " + std::string(cupsServer()) + " does not answer.");
    cups_job_t* jobs = nullptr;
    const int count = cupsGetJobs2(http, &jobs, Utf8(printer).c_str(), 1, which);
    if (count < 0)
        return Fail(std::string(cupsLastErrorString()) + " (printer " + printer + ")");
    const std::string wanted = Utf8(title);
    std::vector<TJobSeen> seen;
    for (int i = 0; i < count; ++i)
        if (jobs[i].title && wanted == jobs[i].title && static_cast<long long>(jobs[i].creation_time) >= createdSince)
            seen.push_back({jobs[i].id, jobs[i].state, jobs[i].size});
    cupsFreeJobs(count, jobs);
    return seen;
}

}  // namespace

TResult<std::vector<int>> TPrintingLayer::CancelJobsWithoutDocument(const std::string& printer,
                                                                    const std::string& title,
                                                                    long long createdSince)
{
    const THttpConnection connection = ConnectScheduler();
    const auto jobs = JobsTitled(connection.get(), printer, title, createdSince, CUPS_WHICHJOBS_ACTIVE);
    if (!jobs)
        return Fail(jobs.Reason());
    std::vector<int> cancelled;
    std::string error;
    for (const TJobSeen& job : *jobs) {
        if ((job.State != IPP_JSTATE_PENDING && job.State != IPP_JSTATE_HELD) || job.Size > 0)
            continue;
        if (cupsCancelJob2(connection.get(), Utf8(printer).c_str(), job.Id, 0) == IPP_STATUS_OK)
            cancelled.push_back(job.Id);
        else
            error = std::string(cupsLastErrorString()) + " (job " + std::to_string(job.Id) + " at " + printer + ")";
    }
    if (!error.empty())
        return Fail(error);
    return cancelled;
}

TResult<int> TPrintingLayer::FindJob(const std::string& printer, const std::string& title,
                                     long long createdSince) const
{
    const THttpConnection connection = ConnectScheduler();
    const auto jobs = JobsTitled(connection.get(), printer, title, createdSince, CUPS_WHICHJOBS_ALL);
    if (!jobs)
        return Fail(jobs.Reason());
    int found = 0;
    for (const TJobSeen& job : *jobs) {
        // A job cancelled or aborted did not print, nor did one created but
        // never given its document (the crash came between the two).
        // Neither counts.
        if (job.State != IPP_JSTATE_CANCELED && job.State != IPP_JSTATE_ABORTED && job.Size > 0)
            found = std::max(found, job.Id);
    }
    return found;
}
