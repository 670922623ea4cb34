// Named moments at which the process stops itself (SIGSTOP) when the
// environment variable PRINTORB_STOP_AT names one, so that a kill test can
// kill it exactly there: between a page the scheduler accepted and its
// record, between a document's bytes on disk and its rename, halfway
// through a page file. Unset, a point costs one comparison.
#pragma once

// Whether the point is the one PRINTORB_STOP_AT names.
bool StopPointArmed(const char* name);
// Stops the process when the point is armed; it goes on only if continued.
void StopPoint(const char* name);
