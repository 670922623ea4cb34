// Reading RTF as word processors write it, into the engine's parts. Any byte
// sequence is read without crash or hang: groups nest to a bounded depth,
// pictures have a bounded size, and damaged files give the text they hold.
#pragma once

#include "platform/docengine/enginepart.h"

#include <QByteArray>
#include <QString>

// Empty text for a file the reader takes; otherwise why it is refused (a
// binary Word file, DOCX, ODT, PDF): the message says what the file is and
// that it must be saved as RTF.
QString RefuseNonRtf(const QByteArray& bytes, const QString& file);

// A file that does not start as RTF is read as plain text, one paragraph per
// line.
void ReadRtf(const QByteArray& bytes, TLoadedDocument& out);

// The positioned images a file in the engine's own format describes (file
// name, position, scales, layout codes, distances); empty for other files.
std::vector<TPositionedImage> ReadOwnFormatImages(const QString& path);
