// printorb-tool pclview FILE OUT.png: the raster pages of a PCL page file as
// the server writes them (an HP or merge overlay page in the LPR queue, or
// what a printer received), so that they can be looked at.
#include "platform/printing/pclraster.h"
#include "tool/commands.h"
#include "util/fileutil.h"

#include <QString>
#include <iostream>

int PclViewCommand(const TCommandLine& line)
{
    const TArgs& args = line.Args();
    if (!OutputFolderExists(args[1]))
        return ExitFailed("the folder of " + args[1] + " does not exist");
    if (const std::string unreadable = CannotRead(args[0]); !unreadable.empty())
        return ExitFailed(unreadable);
    const TResult<std::string> bytes = ReadFileBytes(args[0], 256ull * 1024 * 1024);
    if (!bytes)
        return ExitFailed("cannot read " + bytes.Reason());
    std::string error;
    const std::vector<QImage> pages = DecodePclRaster(*bytes, &error);
    if (!error.empty())
        std::cerr << args[0] << ": " << error << '\n';
    if (pages.empty()) {
        std::cerr << args[0] << " holds no raster page (text-only PCL is not drawn)\n";
        return 1;
    }
    const QString out = QString::fromStdString(args[1]);
    const QString stem = out.endsWith(QLatin1String(".png"), Qt::CaseInsensitive) ? out.chopped(4) : out;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const QString path = i == 0 ? stem + ".png" : stem + QStringLiteral("-%1.png").arg(i + 1);
        if (!pages[i].save(path, "PNG")) {
            std::cerr << "Cannot write " << path.toStdString() << '\n';
            return 1;
        }
        std::cout << path.toStdString() << ": " << pages[i].width() << " x " << pages[i].height() << " dots\n";
    }
    return 0;
}
