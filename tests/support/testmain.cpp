// Shared test entry: an offscreen QApplication at 96 dpi, no inherited
// printer choices, then GoogleTest.
#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::unsetenv("PRINTER");
    ::unsetenv("LPDEST");
    QApplication::setAttribute(Qt::AA_Use96Dpi);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
