#include "delivery/rawprinter.h"

#include "platform/printing/rawjob.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/textutil.h"

#include <cstdio>
#include <memory>

TResult<std::string> SendViaSpooler(const std::string& path, const TServerConfig& config)
{
    TRAWPrinter printer;
    const std::string name = ExtractFileName(path);
    printer.PrinterName = config.PrinterName(NthField(name, '_', 2));
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> owner(std::fopen(NativePath(path).c_str(), "rb"),
                                                                 &std::fclose);
    std::FILE* file = owner.get();
    if (!file) {
        printer.EndDoc();
        return Fail("cannot read " + path);
    }
    printer.DocumentTitle = name;
    if (!printer.BeginDoc()) {
        printer.EndDoc();
        return Fail(printer.PrinterName.empty() ? std::string("no printer") : "no printer " + printer.PrinterName);
    }
    // The bytes go over unchanged, in blocks (the spooler buffers the job anyway).
    char block[65536];
    std::size_t got;
    std::size_t total = 0;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
        printer.Write(block, got);
        total += got;
    }
    if (std::ferror(file) != 0) {
        printer.AbortDoc();
        return Fail("cannot read " + path);
    }
    if (total == 0) {
        // The scheduler takes no empty document: there is nothing to print.
        const std::string destination = printer.Destination();
        printer.AbortDoc();
        return destination;
    }
    const std::string destination = printer.Destination();
    if (!printer.EndDoc())
        return Fail(destination + " did not take the job");
    return destination;
}
