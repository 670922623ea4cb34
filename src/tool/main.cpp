#include "tool/commands.h"
#include "util/qtenv.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>

namespace {

const char* kUsage =
    "usage: printorb-tool COMMAND ...\n"
    "  parse FILE [--tags TAGS.TXT]   print a request as the server parses it, as JSON\n"
    "  convert IN OUT                 write a letterhead or template as .pdf, .rtf/.doc or .txw/.tpl\n"
    "  render REQUEST OUT [--home D]  compose a request as the server would and save it (.pdf, .rtf, .txw)\n"
    "  lpd HOST[:PORT] FILE [--queue Q]                send a printer file by LPD as the LPR queue does\n"
    "  ftp HOST FILE [--raw-port N] [--ftp-port N]     the failover route: raw to 9100, then FTP\n"
    "  overlay FILE OUT (--macro N | --merge OVERLAY)  apply a printer overlay to a printer file\n"
    "  macros PRINTER [--home D]      the overlay list or HP mark of a printer in printerdriverdata.reg\n"
    "  pclview FILE OUT.png           the raster pages of a PCL page file as PNG images\n";

}  // namespace

std::string OptionValue(const TArgs& args, const std::string& option)
{
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == option)
            return args[i + 1];
    return {};
}

TArgs Positionals(const TArgs& args, const std::vector<std::string>& optionsWithValues)
{
    TArgs out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        bool takesValue = false;
        for (const std::string& option : optionsWithValues)
            takesValue = takesValue || args[i] == option;
        if (takesValue) {
            ++i;
            continue;
        }
        out.push_back(args[i]);
    }
    return out;
}

std::string ToolHome(const TArgs& args)
{
    std::string home = OptionValue(args, "--home");
    if (home.empty())
        if (const char* env = std::getenv("PRINTORB_HOME"))
            home = env;
    if (home.empty())
        home = QCoreApplication::applicationDirPath().toStdString();
    if (!home.empty() && home.back() != '/')
        home += '/';
    return home;
}

int main(int argc, char* argv[])
{
    // Graphs and documents need fonts and images, never a display.
    if (!std::getenv("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    PrepareQtEnvironment();
    QGuiApplication::setAttribute(Qt::AA_Use96Dpi);
    QGuiApplication app(argc, argv);

    const std::map<std::string, std::function<int(const TArgs&)>> commands = {
        {"parse", ParseCommand},
        {"convert", ConvertCommand},
        {"render", RenderCommand},
        {"lpd", LpdCommand},
        {"ftp", FtpCommand},
        {"overlay", OverlayCommand},
        {"macros", MacrosCommand},
        {"pclview", PclViewCommand},
    };
    if (argc < 2 || commands.find(argv[1]) == commands.end()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const TArgs args(argv + 2, argv + argc);
    return commands.at(argv[1])(args);
}
