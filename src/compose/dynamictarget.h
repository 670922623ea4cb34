// Dynamic-range graphs: a bar bitmap with a target marker (circle, cross and
// label) ANDed onto it at a percentage of its width.
#pragma once

#include <QColor>
#include <QImage>
#include <string>
#include <string_view>

class tDynamicTarget {
public:
    // The canvas's font and pen colours; a loaded bitmap starts with black.
    QColor Font = Qt::black;
    QColor Pen = Qt::black;

    // false when the source cannot be loaded (nothing drawn or saved) or
    // the destination cannot be written.
    bool AddTarget(std::string_view source, std::string_view destination, int percent, std::string_view label);

    // The drawing itself, on an image in memory.
    QImage Draw(const QImage& bar, int percent, std::string_view label) const;
    static int MarkerLeft(int barWidth, int side, int percent);
};

// Draws the DYNAMICRANGE graph of a value "source,destination,label,percent[,x]";
// a value that does not hold an integer percentage is skipped. Installed as
// a report record's drawer by the server and the tool.
void DrawDynamicRangeGraph(std::string_view value);
