// The program's version, as the window's caption and both programs'
// --version show it.
#pragma once

inline constexpr const char* kProgramVersion = "4.4.3 - 2206 Beta";
inline constexpr const char* kProgramCaption = "TovaORB Print Server 4.4.3 - 2206 Beta";
