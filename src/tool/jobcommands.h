// printorb-tool's commands over the job journal of a server home.
#pragma once

#include "tool/commandline.h"

int JobsCommand(const TCommandLine& line);
int JobCommand(const TCommandLine& line);
int ResubmitCommand(const TCommandLine& line);
int StatusCommand(const TCommandLine& line);
