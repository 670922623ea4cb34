// The running server as its status page sees it: the one status rule over
// the pipeline's journal, the lights and counters, the log's last lines, the
// printer table with what the print system says of each printer.
#pragma once

#include "web/webserver.h"

#include <cstdint>
#include <vector>

class TPrintServer;

class TServerWebSource : public TWebSource {
public:
    // The print system is asked about the printers at most this often.
    static constexpr std::int64_t kPrintersReuseMs = 10000;
    // Whether the print system answers, asked at most this often: a silent
    // scheduler costs its time-out, and pollers ask every second.
    static constexpr std::int64_t kPrintSystemReuseMs = 30000;

    explicit TServerWebSource(TPrintServer& server) : FServer(server) {}

    TJournal& Journal() override;
    TServerStatus Status(int lastJobs) override;
    TLiveState Live() override;
    std::vector<TLogLine> LogSince(std::uint64_t seq, std::size_t max) override;
    std::vector<TPrinterState> Printers() override;
    const TServerTally& Tally() override;
    TResult<std::string> Resubmit(std::int64_t id, const std::string& by) override;

private:
    TPrintServer& FServer;
    std::vector<TPrinterState> FPrinters;
    std::int64_t FPrintersAt = 0;
    bool FPrintSystemUp = true;
    std::int64_t FPrintSystemAt = 0;
};
