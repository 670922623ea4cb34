// Images a template holds, collected from the engine's own file format so
// that the job places them again after loading the template.
#pragma once

#include "request/imagerecord.h"

#include <string>

void ScanTemplateImages(const std::string& path, TImageRecordArray& images);
