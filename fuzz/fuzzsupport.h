// What the fuzz targets that draw share: a Qt application without a display.
#pragma once

#include <QGuiApplication>

inline int InitializeOffscreenQt(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}
