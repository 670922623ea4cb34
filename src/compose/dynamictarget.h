// Dynamic-range graphs: a bar bitmap with a target marker (circle, cross and
// label) ANDed onto it at a percentage of its width.
#pragma once

#include "util/outputfile.h"
#include "util/result.h"

#include <QColor>
#include <QImage>
#include <string>
#include <string_view>

class tDynamicTarget {
public:
    // The canvas's font and pen colours; a loaded bitmap starts with black.
    QColor Font = Qt::black;
    QColor Pen = Qt::black;

    // Fails when the source cannot be loaded (nothing drawn or saved) or the
    // destination cannot be written whole (a full folder is an outage), or,
    // with places, when the destination is one of them (final).
    TOutcome AddTarget(std::string_view source, std::string_view destination, int percent, std::string_view label,
                       const TProtectedPlaces& places = {});

    // The drawing itself, on an image in memory.
    QImage Draw(const QImage& bar, int percent, std::string_view label) const;
    static int MarkerLeft(int barWidth, int side, int percent);
};

// Draws the DYNAMICRANGE graph of a value "source,destination,label,percent[,x]"
// and writes it, never onto one of places; a value that does not hold an
// integer percentage is skipped (done, nothing written).
TOutcome WriteDynamicRangeGraph(std::string_view value, const TProtectedPlaces& places);
// The same anywhere, its failure only seen as the graph missing from the
// report: the tool's drawer for a report record.
void DrawDynamicRangeGraph(std::string_view value);
