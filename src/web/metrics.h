// The server's state and what it did, in Prometheus's text format.
#pragma once

#include "status/serverstatus.h"
#include "util/tally.h"

#include <string>

std::string MetricsText(const TServerStatus& status, const TServerTally& tally, const std::string& version);
