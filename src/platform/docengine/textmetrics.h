// Text measured as the word processor that wrote the files measures it.
// LibreOffice lays text out on an 8640-dpi reference device, each glyph's
// advance rounded to a whole device pixel (1/6 twip), and breaks a line only
// when those rounded advances pass its width. Our layout's advances are not
// rounded, so a line can come out up to about 6 twips wider than there and
// wrap its last word where the word processor keeps it.
#pragma once

class QTextCharFormat;
class QTextDocument;

// Gives each run of text the letter spacing that makes its width the
// rounded advances' width: the run's mean rounding per character, so a line
// cut anywhere in the run measures within a twip of the word processor's.
// Lays nothing out; a document changed here is laid out anew by the caller.
void MatchWordProcessorWidths(QTextDocument& doc);

// Whether two runs differ only in the spacing given above: the files
// written from a document keep them one run, as they were before.
bool DifferOnlyInMatchedWidths(const QTextCharFormat& a, const QTextCharFormat& b);
