// TRAWPrinter: a printer file handed unchanged to the print system as a raw
// job on a named queue (the system default when no name), step by step:
// printer opened, document started, page started.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

typedef struct _http_s http_t;

class TRAWPrinter {
public:
    TRAWPrinter() = default;
    ~TRAWPrinter();
    TRAWPrinter(const TRAWPrinter&) = delete;
    TRAWPrinter& operator=(const TRAWPrinter&) = delete;

    std::string PrinterName;
    std::string DocumentTitle;

    bool BeginDoc();
    std::size_t Write(const void* buffer, std::size_t count);
    bool EndDoc();
    bool AbortDoc();
    bool DefaultPrinterName();
    int State() const { return FState; }

private:
    void ClosePrinter();  // state 1 to 0
    int FState = 0;  // 0 closed, 1 printer opened, 2 document started, 3 page started
    http_t* FHttp = nullptr;
    int FJob = 0;
    std::string FDestination;  // the queue name as the scheduler knows it
};

// The queued file at path to the printer that the settings name for its
// printer number (the second "_" field of its name). True when handed over.
bool SendViaSpooler(const std::string& path, const std::function<std::string(std::string_view)>& settingValue);
