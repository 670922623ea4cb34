// A parsed request turned into its report and what the print run is to do
// with it: the printer chosen (falling back to the default), the document
// composed, the outputs planned. The server's report job and the template
// author's preview (printorb-tool render) both go this one way, so the
// preview shows what the server prints.
#pragma once

#include "config/serverconfig.h"
#include "delivery/overlaylookup.h"
#include "platform/printing/printinglayer.h"
#include "print/printrun.h"
#include "spool/reportjob.h"
#include "util/result.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// What the server knows of the print system beyond one answer: what is
// down already, and how it marks what it finds down. Each failure is an
// outage whose detail is the key the request waits for.
class TPrintSystemWatch {
public:
    virtual ~TPrintSystemWatch() = default;
    // The print system, when it is known to be down.
    virtual std::optional<TFailure> KnownDown() = 0;
    // The print system did not answer.
    virtual TFailure Down(const std::string& reason) = 0;
    // The chosen printer (or the print system) when it takes no jobs.
    virtual std::optional<TFailure> PrinterDown(const std::string& printer) = 0;
};

struct TRequestContext {
    TJobContext& Job;
    const TServerConfig& Config;
    TPrintingLayer& Printing;
    TOverlayLookup& Overlays;
    // Without one the print system is asked once, as for a fresh server.
    TPrintSystemWatch* Watch = nullptr;
    // The operator watches the document view: the first page's mask is not
    // looked up, as the print run drops it.
    std::function<bool()> DocumentViewShown = nullptr;
    // The tag file was missing when the tags were read: the job keeps the
    // warning that was logged then.
    bool TagsMissing = false;
    std::function<void(std::string_view warning)> KeepWarning = nullptr;
    // A preview composes a request that the server holds back for want of a
    // printer, as the server composes it once one answers.
    bool Preview = false;
};

enum class TRequestExit {
    Composed,         // the plan says what the print run outputs
    Unprintable,      // neither codes nor a scan id
    ScanImages,       // a scan id's images are printed; there is no report
    NoPrinter,        // no printer at all could be selected
    PrintSystemDown,  // the print system or the printer is down: the request waits
    NotComposed,      // composing failed, as Compose says
};

struct TComposedRequest {
    TRequestExit Exit = TRequestExit::Composed;
    // Why it did not come to a plan; for PrintSystemDown an outage whose
    // detail is its key.
    TFailure Failure = {};
    TComposeResult Compose = {};
    double ComposeSeconds = 0;
    // The engine holds the composed report, and the plan is made.
    bool Composed = false;
    TOutputPlan Plan = {};
};

// The record is parsed; the document is emptied and composed here. What is
// held back for want of a printer ends before composing, except in a
// preview, which composes it all the same and keeps the exit.
TComposedRequest ComposeRequest(TRequestContext& request, std::string_view spoolName);
