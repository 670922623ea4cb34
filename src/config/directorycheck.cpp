#include "config/directorycheck.h"

#include "util/fileutil.h"

#include <string>

bool AskCreateDirectory(TPrompts& prompts, std::string_view caption, std::string_view what, std::string_view dir)
{
    const std::string text = "The " + std::string(what) + " directory " + std::string(dir) + " does not exist.\r\n" +
                             "Do you want to create it?";
    if (!prompts.AskYesNo(caption, text))
        return false;
    return ForceDir(dir).Ok();
}

bool CheckDirectories(const TServerConfig& config, TPrompts& prompts)
{
    if (config.SpoolDir.empty() || config.ResultsDir.empty() || config.TemplatesDir.empty())
        return false;
    struct TCheck {
        const std::string& dir;
        const char* what;
        const char* boxCaption;
        const char* boxText;
    };
    const TCheck checks[] = {
        {config.SpoolDir, "Print Spooler", "Test Print Server",
         "Directory was not created.\r\nTest print failed: no Spooler Directory"},
        {config.ResultsDir, "Result Files", "Check Directories", "Directory was not created.\r\nNo Result Directory"},
        {config.TemplatesDir, "Templates/Letterhead", "Test Print Server",
         "Directory was not created.\r\nTest print failed: no Templates/LetterHead Directory"},
    };
    for (const TCheck& check : checks) {
        if (DirExists(check.dir))
            continue;
        if (!AskCreateDirectory(prompts, "Checking Settings", check.what, check.dir)) {
            prompts.ShowMessage(check.boxCaption, check.boxText, TPrompts::Icon::Error);
            return false;
        }
    }
    return true;
}
