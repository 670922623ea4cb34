#include "platform/printing/printinglayer.h"

#include "support/testsupport.h"
#include "util/fileutil.h"

#include <QElapsedTimer>
#include <algorithm>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A port on 127.0.0.1 that nothing listens on.
int ClosedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

}  // namespace

TEST(PrintingLayer, NoSchedulerGivesNoPrintersAtOnce)
{
    ::setenv("CUPS_SERVER", ("127.0.0.1:" + std::to_string(ClosedPort())).c_str(), 1);
    TPrintingLayer layer;
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(layer.InstalledPrinters().empty());
    EXPECT_EQ(layer.SystemDefaultPrinter(), "");
    EXPECT_LT(timer.elapsed(), 3000);
    ::unsetenv("CUPS_SERVER");
}

TEST(PrintingLayer, ListsTheSchedulersQueuesAndItsDefault)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started());
    ASSERT_TRUE(cups.AddQueue("Laser-A"));
    ASSERT_TRUE(cups.AddQueue("Laser-B"));
    TPrintingLayer layer;
    EXPECT_EQ(layer.SystemDefaultPrinter(), "");  // none chosen yet
    ASSERT_TRUE(cups.SetDefault("Laser-B"));

    auto names = layer.InstalledPrinters();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string> {"Laser-A", "Laser-B"}));
    EXPECT_EQ(layer.SystemDefaultPrinter(), "Laser-B");
}

TEST(PrintingLayer, PdfJobsReachThePrinterWhole)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started());
    ASSERT_TRUE(cups.AddQueue("Laser-A"));
    ASSERT_TRUE(cups.AddQueue("Laser-B"));
    ASSERT_TRUE(cups.SetDefault("Laser-B"));
    TPrintingLayer layer;
    const std::string pdf = "%PDF-1.4\n% a tiny document\n%%EOF\n";
    EXPECT_EQ(layer.PrintPdf("Laser-A", "R1 P1", pdf), "");
    layer.CurrentPrinter = "";
    EXPECT_EQ(layer.PrintPdf("", "Default job", pdf), "");  // the system default
    EXPECT_NE(layer.PrintPdf("No-Such-Queue", "x", pdf), "");

    ASSERT_TRUE(WaitFor([&] { return FileExists(cups.OutDir("Laser-A") + "job-1.data"); }, 10000));
    EXPECT_EQ(ReadFile(cups.OutDir("Laser-A") + "job-1.data"), pdf);
    EXPECT_NE(ReadFile(cups.OutDir("Laser-A") + "job-1.info").find("title=R1 P1"), std::string::npos);
    ASSERT_TRUE(WaitFor([&] { return FileExists(cups.OutDir("Laser-B") + "job-2.data"); }, 10000));
    EXPECT_NE(ReadFile(cups.OutDir("Laser-B") + "job-2.info").find("title=Default job"), std::string::npos);
}
