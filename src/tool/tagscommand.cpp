// printorb-tool tags TEMPLATE [--letterhead NAME] [--home DIR] [--strict]:
// the tags a report of this template would fill, letterhead first, each
// marked when tags.txt gives it no value (it would print blank).
#include "compose/mergefields.h"
#include "config/serverconfig.h"
#include "config/settingsstore.h"
#include "platform/docengine/documentengine.h"
#include "request/tagfile.h"
#include "tool/commands.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/packagehome.h"
#include "util/serverhome.h"

#include <iostream>

namespace {

// A file given as a path, or a name in the templates folder.
std::string Resolve(const std::string& given, const std::string& templates, const char* extension)
{
    if (FileExists(given))
        return given;
    return templates + given + extension;
}

}  // namespace

int TagsCommand(const TCommandLine& line)
{
    const std::string home = line.Home();
    const TResult<TServerConfig> config = line.HomeConfig();
    if (!config)
        return ExitFailed(config.Reason());
    const std::string tagsPath = TServerHome(home).Tags();
    const TResult<std::vector<std::string>> tagList = ReadTextLines(tagsPath, 4 * 1024 * 1024);
    if (!tagList)
        return ExitFailed("no tag file at " + tagsPath);
    const std::string& templates = config->TemplatesDir;
    const std::string letterhead = Resolve(line.Value("--letterhead", config->DefLetterhead), templates, ".doc");
    const std::string templ = Resolve(line.Arg(0), templates, ".tpl");

    int unknown = 0;
    const struct {
        const char* Role;
        const std::string& Path;
    } files[] = {{"letterhead", letterhead}, {"template", templ}};
    for (const auto& file : files) {
        if (!FileExists(file.Path))
            return ExitFailed("the " + std::string(file.Role) + " " + file.Path + " does not exist");
        if (const std::string unreadable = CannotRead(file.Path); !unreadable.empty())
            return ExitFailed(unreadable);
        DocumentEngine engine;
        if (const TOutcome loaded = engine.LoadDocument(ToUnicode(file.Path)); !loaded)
            return ExitFailed(file.Path + ": " + loaded.Reason());
        std::cout << file.Role << " " << file.Path << '\n';
        for (const std::string& tag : DocumentTags(engine)) {
            const bool known = TagFileKnows(tag, *tagList);
            unknown += known ? 0 : 1;
            std::cout << "  <<" << ToUnicode(tag).toStdString() << ">>" << (known ? "" : "   not in tags.txt") << '\n';
        }
    }
    if (unknown > 0)
        std::cerr << "printorb-tool: " << unknown << " tag(s) not in " << tagsPath
                  << ": they print blank unless the request has a field of that name\n";
    return unknown > 0 && line.Has("--strict") ? kExitFailed : kExitOk;
}
