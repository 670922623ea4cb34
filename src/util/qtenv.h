// Before the Qt application object is made: offscreen when there is no
// display, and a private runtime folder when the session has none, so that
// unattended runs start quietly.
#pragma once

#include "util/environment.h"

void PrepareQtEnvironment(const TProgramEnvironment& env);
