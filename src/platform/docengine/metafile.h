// Windows metafiles, as older word processors store letterhead logos in
// RTF: WMF (with or without the placeable header) and EMF, drawn with
// QPainter. The records letterheads use are played: bitmaps, text, lines,
// polygons, rectangles and ellipses, fills, pens, brushes and fonts, the
// mapping modes and the world transform. Any bytes are safe: records are
// bounds-checked and their number is bounded.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QPainter>

// The size the metafile gives itself (an EMF's frame, a placeable WMF's
// box), in twips; empty when it gives none.
QSizeF MetafileSize(const QByteArray& data);
// A packed device-independent bitmap (header, colours, bits, as metafiles and
// RTF carry it) as the bytes of a .bmp file; empty when malformed.
QByteArray BitmapFileOfPackedDib(const QByteArray& packed);

// Plays the metafile into a rectangle of a painter; false when the bytes are
// not a metafile this player reads.
bool PlayMetafile(const QByteArray& data, QPainter& painter, const QRectF& target);

// The metafile drawn as an image at a size on the page (twips), at about
// 200 dots to the inch; a null image when the bytes are not a metafile.
QImage RenderMetafile(const QByteArray& data, double widthTwips, double heightTwips);
