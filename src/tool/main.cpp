#include "tool/commands.h"
#include "tool/jobcommands.h"
#include "util/qtenv.h"
#include "util/stoppoint.h"
#include "util/version.h"

#include <QGuiApplication>

#include <cstdlib>
#include <iostream>

namespace {

const std::string kTimeouts = "[--connect-timeout S] [--timeout S]";

const std::vector<TCommand>& Commands()
{
    static const std::vector<TCommand> commands = {
        {"parse", "FILE [--tags TAGS.TXT] [--home DIR]", "print a request as the server parses it, as JSON",
         "The tag file is TAGS.TXT, else tags.txt of the server home; without one the command fails.",
         {"--tags", "--home"}, {}, 1, 1, ParseCommand},
        {"convert", "IN OUT", "write a letterhead or template as .pdf, .rtf/.doc or .txw/.tpl",
         "Prints the page count and the page size in millimetres and by name.", {}, {}, 2, 2, ConvertCommand},
        {"render", "REQUEST OUT [--home DIR] [--strict]",
         "compose a request as the server would and save it (.pdf, .rtf, .txw)",
         "Composes through the server's own path: what the server goes on without (a letterhead, a template,\n"
         "the tag file, its printer) is a warning on standard error, as the server keeps it with the job.\n"
         "With --strict it fails on a warning, and when a tag of the letterhead or template has no value\n"
         "(neither tags.txt nor the request names it: it would print blank).",
         {"--home"}, {"--strict"}, 2, 2, RenderCommand},
        {"tags", "TEMPLATE [--letterhead NAME] [--home DIR] [--strict]",
         "list the tags of a template and its letterhead, marking those tags.txt does not know",
         "TEMPLATE is a file, or a procedure name in the templates folder (NAME.tpl). The letterhead is\n"
         "--letterhead (a file or a name, NAME.doc), else the default letterhead. With --strict the command\n"
         "fails when a tag is not known.",
         {"--letterhead", "--home"}, {"--strict"}, 1, 1, TagsCommand},
        {"lpd", "HOST[:PORT] FILE [--queue Q] " + kTimeouts, "send a printer file by LPD as the LPR queue does",
         "Prints the result code and status text; where and why it failed goes to standard error.\n"
         "Time-outs in seconds: connecting (default 20) and any transfer step (default 60).",
         {"--queue", "--connect-timeout", "--timeout"}, {}, 2, 2, LpdCommand},
        {"ftp", "HOST FILE [--raw-port N] [--ftp-port N] " + kTimeouts,
         "the failover route: raw to port 9100, then FTP",
         "Prints the result code and status text; which route failed, where and why goes to standard error.",
         {"--raw-port", "--ftp-port", "--connect-timeout", "--timeout"}, {}, 2, 2, FtpCommand},
        {"overlay", "FILE OUT (--macro N | --merge OVERLAY)", "apply a printer overlay to a printer file",
         "--macro puts a call of macro N before the page's insertion mark (ESC*p6815Y); --merge lays the\n"
         "page onto an overlay printer file. OUT's folder must exist.",
         {"--macro", "--merge"}, {}, 2, 2, OverlayCommand},
        {"macros", "PRINTER [--home DIR]", "the overlay list or HP mark of a printer in printerdriverdata.reg", "",
         {"--home"}, {}, 1, 1, MacrosCommand},
        {"pclview", "FILE OUT.png", "the raster pages of a PCL page file as PNG images",
         "One PNG per page: OUT.png, OUT-2.png, ...", {}, {}, 2, 2, PclViewCommand},
        {"jobs", "[--home DIR] [--since YYYY-MM-DD] [--reqcode CODE] [--state STATE] [--json]",
         "the jobs of the journal, newest first",
         "One line per job: when it was taken, its number, the spool file, the request code, its state\n"
         "(running, waiting, done, failed, unprintable), its attempts, the printer and where the output\n"
         "went (cups:JOB for each print job, the path of each document or page file). --json prints an array.",
         {"--home", "--since", "--reqcode", "--state"}, {"--json"}, 0, 0, JobsCommand},
        {"job", "ID [--home DIR] [--json]", "one job's whole story, LPR queue deliveries included", "",
         {"--home"}, {"--json"}, 1, 1, JobCommand},
        {"resubmit", "ID [--home DIR]", "put a job's kept request back into the spool folder",
         "The request comes from the spool folder's \"failed\" folder, else from its copy in \"temp\" when\n"
         "that copy still holds the job's bytes; it is written whole and becomes a new job.",
         {"--home"}, {}, 1, 1, ResubmitCommand},
        {"status", "[--home DIR] [--late-after MINUTES]", "the server's health, for monitoring",
         "The first line is \"ok: ...\" or \"not ok: REASON\" (the most pressing), then \"also:\" lines for the\n"
         "rest, the files waiting, the last tick, jobs done and failed today, jobs waiting for their next\n"
         "attempt. Not ok: no settings or journal, no tick within the last minute, the print system does not\n"
         "answer, the journal cannot be written, a folder is full, something is down, a spool file cannot be\n"
         "read, a spool file or a printer file in the LPR queue has waited longer than --late-after minutes\n"
         "(default 15), or a job failed in the last 24 hours and was not resubmitted and done since.\n"
         "Exit 0 when ok, 1 when not.",
         {"--home", "--late-after"}, {}, 0, 0, StatusCommand},
        {"web-password", "[--home DIR] [--remove]", "set the status page's password (WEBPASSWORD)",
         "Reads the password from standard input (twice, without echo, at a terminal), at least 8\n"
         "characters, and keeps only its salted Argon2id hash in printserver.inf. --remove takes it out.\n"
         "The server reads it when it starts. WEBSTATUS on an address other than loopback needs one.",
         {"--home"}, {"--remove"}, 0, 0, WebPasswordCommand},
    };
    return commands;
}

std::string Usage()
{
    std::string text = "usage: printorb-tool COMMAND [ARGS]   (printorb-tool COMMAND --help for more)\n"
                       "       printorb-tool --help | --version\n\ncommands:\n";
    for (const TCommand& c : Commands()) {
        std::string name = "  " + c.Name;
        name.resize(11, ' ');
        text += name + c.Summary + "\n";
    }
    text += "\nThe server home (printserver.inf, tags.txt, printerdriverdata.reg, journal.db) is --home DIR, else\n"
            "$PRINTORB_HOME, else the tool's folder when it holds printserver.inf, else /var/lib/printorb.\n"
            "Exit status: 0 done, 1 failed, 2 wrong command line.\n";
    return text;
}

std::string CommandUsage(const TCommand& c)
{
    std::string text = "usage: printorb-tool " + c.Name + " " + c.Synopsis + "\n" + c.Summary + ".\n";
    if (!c.Help.empty())
        text += c.Help + "\n";
    return text;
}

}  // namespace

int main(int argc, char* argv[])
{
    TProgramEnvironment env = TProgramEnvironment::Read();
    // Graphs and documents need fonts and images, never a display.
    if (!env.QtPlatform)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    env.QtPlatform = true;
    ArmStopPoint(env.StopAt);
    PrepareQtEnvironment(env);
    QGuiApplication::setAttribute(Qt::AA_Use96Dpi);
    QGuiApplication app(argc, argv);

    const TArgs all(argv + 1, argv + argc);
    if (all.empty()) {
        std::cerr << Usage();
        return kExitUsage;
    }
    const std::string& name = all[0];
    if (name == "--help" || name == "-h" || name == "help") {
        std::cout << Usage();
        return kExitOk;
    }
    if (name == "--version") {
        std::cout << "printorb-tool " << kProgramVersion << '\n';
        return kExitOk;
    }
    for (const TCommand& command : Commands()) {
        if (command.Name != name)
            continue;
        const TArgs args(all.begin() + 1, all.end());
        for (const std::string& arg : args)
            if (arg == "--help" || arg == "-h") {
                std::cout << CommandUsage(command);
                return kExitOk;
            }
        try {
            const TCommandLine line(command, args, env);
            return command.Run(line);
        } catch (const TUsageError& error) {
            std::cerr << "printorb-tool " << command.Name << ": " << error.what() << '\n' << CommandUsage(command);
            return kExitUsage;
        }
    }
    std::cerr << "printorb-tool: unknown command '" << name << "'\n" << Usage();
    return kExitUsage;
}
