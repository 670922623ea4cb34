// printorb-tool's commands, over the server's own libraries. Each gets its
// checked command line and returns the process exit status.
#pragma once

#include "tool/commandline.h"

int ParseCommand(const TCommandLine& line);
int ConvertCommand(const TCommandLine& line);
int RenderCommand(const TCommandLine& line);
int TagsCommand(const TCommandLine& line);
int LpdCommand(const TCommandLine& line);
int FtpCommand(const TCommandLine& line);
int OverlayCommand(const TCommandLine& line);
int MacrosCommand(const TCommandLine& line);
int PclViewCommand(const TCommandLine& line);
int WebPasswordCommand(const TCommandLine& line);

// The engine's format for a file name's extension; a usage error when it has none.
int FormatForFile(const std::string& path);
