// How the layout sizes and draws the pictures in the text: bitmaps at their
// size, Windows metafiles played on the page's painter, so that a logo
// stored as a metafile stays vector in PDFs and prints.
#pragma once

#include <QObject>
#include <QTextObjectInterface>

class QTextDocument;

class TPictureHandler : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)

public:
    using QObject::QObject;
    QSizeF intrinsicSize(QTextDocument* doc, int position, const QTextFormat& format) override;
    void drawObject(QPainter* painter, const QRectF& rect, QTextDocument* doc, int position,
                    const QTextFormat& format) override;
};

// Lays the document out on the engine's 1440-dpi device with the picture
// handler; done again whenever the document's layout is made anew.
void PrepareLayout(QTextDocument& doc);
// Lets every paragraph keep its shaped glyphs from layout to drawing;
// without it each line is shaped twice. Call again after edits.
void KeepGlyphs(QTextDocument& doc);

// A metafile picture's bytes, kept beside its image under the same name.
void AddMetafileResource(QTextDocument& doc, const QString& name, const QByteArray& bytes);
