// TRAWPrinter: the stand-in for the Windows spooler's raw document: a
// printer file handed unchanged to the print system as a raw job on a named
// queue (the system default when no name), step by step: printer opened,
// document started, page started.
#pragma once

#include "platform/printing/printinglayer.h"

#include <cstddef>
#include <string>

class TRAWPrinter {
public:
    // How far the job got; the numbers are those the state was known by.
    enum class TState { Closed = 0, PrinterOpen = 1, DocumentStarted = 2, PageStarted = 3 };

    TRAWPrinter() = default;
    ~TRAWPrinter();
    TRAWPrinter(const TRAWPrinter&) = delete;
    TRAWPrinter& operator=(const TRAWPrinter&) = delete;

    std::string PrinterName;
    std::string DocumentTitle;
    // The queue that took the document, as the scheduler names it; empty before BeginDoc.
    const std::string& Destination() const { return FDestination; }

    [[nodiscard]] bool BeginDoc();
    std::size_t Write(const void* buffer, std::size_t count);
    bool EndDoc();
    bool AbortDoc();
    bool DefaultPrinterName();
    TState State() const { return FState; }

private:
    void ClosePrinter();  // printer open to closed
    TState FState = TState::Closed;
    THttpConnection FHttp;
    int FJob = 0;
    std::string FDestination;  // the queue name as the scheduler knows it
};
