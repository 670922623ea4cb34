#include "delivery/ftpuploader.h"

#include "support/testsupport.h"
#include "util/fileutil.h"

#include <gtest/gtest.h>

TEST(FtpFailover, RawPort9100TakesTheFileFirst)
{
    TTempDir dir;
    TPeerProcess raw("raw-listener.py", {"keep", dir / "raw"});
    ASSERT_GT(raw.Port(), 0);
    WriteFile(dir / "job.prn", std::string(50000, 'r'));
    TsbprinterFTP ftp;
    ftp.RawPort = raw.Port();
    ftp.Ftp.Port = ClosedPort();
    EXPECT_EQ(ftp.Send("127.0.0.1", dir / "job.prn", "printorb", "", ""), TFtpResult::Delivered);
    EXPECT_EQ(ftp.StatusText, "");
    ASSERT_TRUE(WaitFor([&] { return FileExists(dir / "raw/raw-1.bin"); }));
    EXPECT_EQ(ReadFile(dir / "raw/raw-1.bin"), std::string(50000, 'r'));
    EXPECT_TRUE(ftp.IsFree());
}

TEST(FtpFailover, UploadsInActiveBinaryModeWhenNothingListensOn9100)
{
    TTempDir dir;
    TPeerProcess server("ftp-server.py", {dir / "ftproot"});
    ASSERT_GT(server.Port(), 0);
    std::string bytes;
    for (int i = 0; i < 5000; ++i)
        bytes += static_cast<char>(i % 256);  // CR, LF and NUL bytes must survive
    WriteFile(dir / "ftpprnfile261209101010123.prn", bytes);
    TsbprinterFTP ftp;
    ftp.RawPort = ClosedPort();
    ftp.Ftp.Port = server.Port();
    EXPECT_EQ(ftp.Send("127.0.0.1", dir / "ftpprnfile261209101010123.prn", "printorb", "", ""), TFtpResult::Delivered) << ftp.StatusText;
    EXPECT_EQ(ReadFile(dir / "ftproot/ftpprnfile261209101010123.prn"), bytes);
    EXPECT_TRUE(ftp.IsFree());
    const std::string log = ReadFile(dir / "ftp.log");
    EXPECT_NE(log.find("TYPE I"), std::string::npos);
    EXPECT_TRUE(log.find("PORT") != std::string::npos || log.find("EPRT") != std::string::npos) << log;
}

TEST(FtpFailover, RefusedLoginsAndMissingFilesAreReported)
{
    TTempDir dir;
    TPeerProcess server("ftp-server.py", {dir / "ftproot"});
    ASSERT_GT(server.Port(), 0);
    WriteFile(dir / "job.prn", "PCL");
    TsbprinterFTP ftp;
    ftp.RawPort = ClosedPort();
    ftp.Ftp.Port = server.Port();
    EXPECT_EQ(ftp.Send("127.0.0.1", dir / "job.prn", "someoneelse", "secret", ""), TFtpResult::UploadFailed);
    EXPECT_EQ(ftp.StatusText.substr(0, 3), "530") << ftp.StatusText;
    // Both routes say where and why they failed.
    EXPECT_EQ(ftp.Detail.rfind("raw 127.0.0.1:" + std::to_string(ftp.RawPort) + ": Socket Error #10061", 0), 0u)
        << ftp.Detail;
    EXPECT_NE(ftp.Detail.find("; FTP 127.0.0.1:" + std::to_string(server.Port()) + ": Login denied (server: 530"),
              std::string::npos)
        << ftp.Detail;

    EXPECT_EQ(ftp.Send("127.0.0.1", dir / "none.prn", "printorb", "", ""), TFtpResult::NoDataFile);
    EXPECT_EQ(ftp.StatusText, "-1 Data file does not exist.");

    TsbprinterFTP unreachable;
    unreachable.RawPort = ClosedPort();
    unreachable.Ftp.Port = ClosedPort();
    EXPECT_EQ(unreachable.Send("127.0.0.1", dir / "job.prn", "printorb", "", ""), TFtpResult::UploadFailed);
    EXPECT_EQ(unreachable.StatusText, "No error description available");
    EXPECT_NE(unreachable.Detail.find("; FTP 127.0.0.1:" + std::to_string(unreachable.Ftp.Port) +
                                      ": Couldn't connect to server"),
              std::string::npos)
        << unreachable.Detail;
}

TEST(FtpFailover, AbortFromInsideAnUploadStopsIt)
{
    TTempDir dir;
    TPeerProcess server("ftp-server.py", {dir / "ftproot"});
    WriteFile(dir / "big.prn", std::string(20 * 1024 * 1024, 'b'));
    TsbprinterFTP ftp;
    ftp.RawPort = ClosedPort();
    ftp.Ftp.Port = server.Port();
    bool busySeen = false;
    ftp.Ftp.OnProgress = [&] {
        // A nested spool tick: the uploader is busy, and the watchdog aborts it.
        if (ftp.Ftp.ConnectionState == TSimpleFTP::TConnectionState::Connected) {
            busySeen = busySeen || !ftp.IsFree();
            ftp.Abort();
        }
    };
    EXPECT_EQ(ftp.Send("127.0.0.1", dir / "big.prn", "printorb", "", ""), TFtpResult::UploadFailed);
    EXPECT_TRUE(busySeen);
    EXPECT_TRUE(ftp.IsFree());
}

TEST(FtpFailover, APrinterThatDropsTheRawConnectionIsNoSuccess)
{
    TTempDir dir;
    TPeerProcess raw("raw-listener.py", {"close-early", dir / "raw"});
    TPeerProcess server("ftp-server.py", {dir / "ftproot"});
    WriteFile(dir / "job.prn", std::string(4 * 1024 * 1024, 'd'));
    TsbprinterFTP ftp;
    ftp.RawPort = raw.Port();
    ftp.Ftp.Port = server.Port();
    EXPECT_EQ(ftp.Send("127.0.0.1", dir / "job.prn", "printorb", "", ""), TFtpResult::Delivered) << ftp.StatusText;
    // The raw route failed, so the file went by FTP, whole.
    EXPECT_EQ(ReadFile(dir / "ftproot/job.prn").size(), 4u * 1024 * 1024);
}
