// printorb-tool: small commands for the people who run the server, over the
// server's own libraries. Each returns the process exit status.
#pragma once

#include <string>
#include <vector>

using TArgs = std::vector<std::string>;

int ParseCommand(const TArgs& args);
int ConvertCommand(const TArgs& args);
int RenderCommand(const TArgs& args);
int LpdCommand(const TArgs& args);
int FtpCommand(const TArgs& args);
int OverlayCommand(const TArgs& args);
int MacrosCommand(const TArgs& args);
int PclViewCommand(const TArgs& args);

// The server home: --home DIR, else PRINTORB_HOME, else the tool's own folder.
std::string ToolHome(const TArgs& args);
// The value after an option such as "--tags", or empty.
std::string OptionValue(const TArgs& args, const std::string& option);
// Arguments that are not options or option values.
TArgs Positionals(const TArgs& args, const std::vector<std::string>& optionsWithValues);
