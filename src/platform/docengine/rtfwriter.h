// Writing the document as RTF that word processors open with the same text,
// formatting, header, footer and page setup. The engine's own format adds
// field and image attributes in ignorable destinations, so that saving and
// loading keeps them.
#pragma once

#include <QByteArray>

class DocumentEngine;

QByteArray WriteRtf(DocumentEngine& engine, bool ownFormat);
