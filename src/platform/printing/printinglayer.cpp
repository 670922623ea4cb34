#include "platform/printing/printinglayer.h"

#include "util/codepage.h"

#include <QString>
#include <cups/cups.h>

namespace {

// Destinations of the scheduler that CUPS_SERVER (or the local socket) names.
struct TDestList {
    int count = 0;
    cups_dest_t* dests = nullptr;

    TDestList()
    {
        http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                    TPrintingLayer::kSchedulerTimeoutMs, nullptr);
        if (!http)
            return;
        // A NULL callback makes a stalled request fail after the time-out.
        httpSetTimeout(http, TPrintingLayer::kSchedulerTimeoutMs / 1000.0, nullptr, nullptr);
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
