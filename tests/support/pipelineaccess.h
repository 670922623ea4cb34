// What only a hung print run or a crash leaves in the pipeline, staged for
// the tests of the watchdog and the restart.
#pragma once

#include "spool/pipeline.h"

class TJobPipelineTestAccess {
public:
    static void DuePrintRun(TJobPipeline& p) { p.FPrintingTimer.start(); }
    static void SetPrintPending(TJobPipeline& p, bool pending) { p.FPrintPending = pending; }
    static void SetBusySince(TJobPipeline& p, const QDateTime& since) { p.FBusySince = since; }
};
