// The program's version: the package's (the project's version in CMake), as
// --version of each program and the log's start-up line show it. The window
// keeps the caption of the system it replaces.
#pragma once

extern const char* const kProgramVersion;
inline constexpr const char* kProgramCaption = "TovaORB Print Server 4.4.3 - 2206 Beta";
