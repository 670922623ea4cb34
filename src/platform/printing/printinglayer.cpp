#include "platform/printing/printinglayer.h"

#include "util/codepage.h"

#include <QString>
#include <cups/cups.h>

// libcups would otherwise keep the first server it read.
http_t* ConnectScheduler()
{
    cupsSetServer(nullptr);
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                TPrintingLayer::kSchedulerTimeoutMs, nullptr);
    if (http)
        httpSetTimeout(http, TPrintingLayer::kSchedulerTimeoutMs / 1000.0, nullptr, nullptr);
    return http;
}

namespace {

// Destinations of the scheduler that CUPS_SERVER (or the local socket) names.
struct TDestList {
    int count = 0;
    cups_dest_t* dests = nullptr;

    TDestList()
    {
        http_t* http = ConnectScheduler();
        if (!http)
            return;
        count = cupsGetDests2(http, &dests);
        httpClose(http);
    }
    ~TDestList() { cupsFreeDests(count, dests); }
    TDestList(const TDestList&) = delete;
    TDestList& operator=(const TDestList&) = delete;
};

std::string SystemText(const char* utf8)
{
    return FromUnicode(QString::fromUtf8(utf8));
}

}  // namespace

std::vector<std::string> TPrintingLayer::InstalledPrinters() const
{
    TDestList list;
    std::vector<std::string> names;
    for (int i = 0; i < list.count; ++i)
        if (!list.dests[i].instance)  // one entry per queue, not per saved option set
            names.push_back(SystemText(list.dests[i].name));
    return names;
}

std::string TPrintingLayer::SystemDefaultPrinter() const
{
    TDestList list;
    for (int i = 0; i < list.count; ++i)
        if (list.dests[i].is_default)
            return SystemText(list.dests[i].name);
    return {};
}

std::string TPrintingLayer::PrintPdf(const std::string& printer, const std::string& title, const std::string& pdf) const
{
    std::string destination = printer.empty() ? CurrentPrinter : printer;
    if (destination.empty())
        destination = SystemDefaultPrinter();
    if (destination.empty())
        return "There is no printer to print on.";
    http_t* http = ConnectScheduler();
    if (!http)
        return "The print scheduler " + std::string(cupsServer()) + " does not answer.";
    const std::string name = ToUnicode(destination).toStdString();
    const std::string jobTitle = ToUnicode(title).toStdString();
    std::string error;
    const int job = cupsCreateJob(http, name.c_str(), jobTitle.c_str(), 0, nullptr);
    if (job <= 0) {
        error = cupsLastErrorString();
    } else if (cupsStartDocument(http, name.c_str(), job, jobTitle.c_str(), CUPS_FORMAT_PDF, 1) != HTTP_STATUS_CONTINUE ||
               cupsWriteRequestData(http, pdf.data(), pdf.size()) != HTTP_STATUS_CONTINUE ||
               cupsFinishDocument(http, name.c_str()) != IPP_STATUS_OK) {
        error = cupsLastErrorString();
        cupsCancelJob2(http, name.c_str(), job, 0);
    }
    httpClose(http);
    return error.empty() ? std::string() : FromUnicode(QString::fromUtf8(error.c_str())) + " (printer " + destination + ")";
}
