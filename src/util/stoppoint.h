// Named moments at which the process stops itself (SIGSTOP) when the
// program was started with PRINTORB_STOP_AT naming one, so that a kill test can
// kill it exactly there: between a page the scheduler accepted and its
// record, between a document's bytes on disk and its rename, halfway
// through a page file. Unset, a point costs one comparison.
#pragma once

#include <string>

// The point to stop at (PRINTORB_STOP_AT), set once where a program starts.
void ArmStopPoint(std::string name);
// Whether the point is the armed one.
bool StopPointArmed(const char* name);
// Stops the process when the point is armed; it goes on only if continued.
void StopPoint(const char* name);
