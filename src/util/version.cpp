#include "util/version.h"

const char* const kProgramVersion = PRINTORB_VERSION;
