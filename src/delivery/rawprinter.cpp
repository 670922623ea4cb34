#include "delivery/rawprinter.h"

#include "platform/printing/rawjob.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/textutil.h"

#include <cstdio>
#include <memory>
#include <sys/stat.h>

TResult<std::string> SendViaSpooler(const std::string& path, const TServerConfig& config)
{
    TRAWPrinter printer;
    const std::string name = ExtractFileName(path);
    printer.PrinterName = config.PrinterName(NthField(name, '_', 2));
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> owner(std::fopen(NativePath(path).c_str(), "rb"),
                                                                 &std::fclose);
    std::FILE* file = owner.get();
    if (!file)
        return Fail("cannot read " + path);
    // Known before the scheduler is asked: an empty file is no job, and a
    // job begun for it would reach the printer's queue.
    struct stat st {};
    if (::fstat(::fileno(file), &st) != 0)
        return Fail("cannot read " + path);
    if (st.st_size == 0)
        return FailFinal("the printer file " + path + " is empty");
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
        if (printer.Write(block, got) != got) {
            const std::string destination = printer.Destination();
            printer.AbortDoc();
            return Fail(destination + " did not take the job's data");
        }
        total += got;
    }
    if (std::ferror(file) != 0) {
        printer.AbortDoc();
        return Fail("cannot read " + path);
    }
    if (total == 0) {
        // Emptied since it was looked at: nothing went to the printer.
        printer.AbortDoc();
        return FailFinal("the printer file " + path + " is empty");
    }
    const std::string destination = printer.Destination();
    if (!printer.EndDoc())
        return Fail(destination + " did not take the job");
    return destination;
}
