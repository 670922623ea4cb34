// Shared test entry: an offscreen QApplication at 96 dpi, no inherited
// printer choices or scheduler, then GoogleTest.
#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::unsetenv("PRINTER");
    ::unsetenv("LPDEST");
    // No test prints on the machine's own scheduler: without a private one
    // the print system does not answer.
    ::setenv("CUPS_SERVER", "127.0.0.1:1", 1);
    QApplication::setAttribute(Qt::AA_Use96Dpi);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
