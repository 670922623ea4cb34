// Pages: the main text flows between header and footer on pages of the set
// size; page n is drawn on any painter, scaled from twips to its device.
#include "platform/docengine/documentengine.h"
#include "platform/docengine/enginepart.h"

#include <QAbstractTextDocumentLayout>
#include <QPaintDevice>
#include <QPainter>
#include <QTextBlock>
#include <QTextLayout>
#include <QTextFragment>

#include <memory>
#include <vector>

#include <algorithm>

namespace {

constexpr double kMinBodyHeight = 720;  // half an inch, whatever header and footer take

// A copy of a header or footer with its page-number and page-count fields
// showing this page's values; null when it has none.
std::unique_ptr<QTextDocument> WithPageValues(const TEnginePart& part, double width, int page, int pages)
{
    bool any = false;
    for (QTextBlock block = part.Doc->begin(); block.isValid() && !any; block = block.next())
        for (auto it = block.begin(); !it.atEnd() && !any; ++it)
            any = it.fragment().charFormat().hasProperty(kPageFieldProperty);
    if (!any)
        return nullptr;
    std::unique_ptr<QTextDocument> copy(part.Doc->clone());
    copy->setDocumentMargin(0);
    copy->documentLayout()->setPaintDevice(TEnginePart::LayoutDevice());
    copy->setTextWidth(width);
    // Fields from the end backwards, so positions stay valid.
    std::vector<std::pair<QTextFragment, int>> fields;
    for (QTextBlock block = copy->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().hasProperty(kPageFieldProperty))
                fields.emplace_back(it.fragment(), it.fragment().charFormat().intProperty(kPageFieldProperty));
    for (auto f = fields.rbegin(); f != fields.rend(); ++f) {
        QTextCursor cursor(copy.get());
        cursor.setPosition(f->first.position());
        cursor.setPosition(f->first.position() + f->first.length(), QTextCursor::KeepAnchor);
        cursor.insertText(QString::number(f->second == kPageNumberField ? page : pages), f->first.charFormat());
    }
    return copy;
}

double PartHeight(const TEnginePart& part)
{
    return part.IsEmpty() ? 0.0 : part.Doc->documentLayout()->documentSize().height();
}

}  // namespace

const TPageGeometry& DocumentEngine::Geometry()
{
    UpdateLayout();
    return FGeometry;
}

void DocumentEngine::UpdateLayout()
{
    if (!FLayoutDirty)
        return;
    TPageGeometry& g = FGeometry;
    const TPageSetup& s = FSetup;
    for (TEnginePart* part : {FHeader.get(), FFooter.get(), FMain.get()})
        part->EnsureLayout();
    g.Width = std::max(720, s.PageWidth - s.MarginL - s.MarginR);
    FHeader->Doc->setTextWidth(g.Width);
    FFooter->Doc->setTextWidth(g.Width);
    g.HeaderHeight = PartHeight(*FHeader);
    g.FooterHeight = PartHeight(*FFooter);

    // A header distance from the file puts the header there and the body at
    // the margin below it; otherwise the header sits at the top margin.
    g.HeaderTop = s.HeaderY >= 0 ? s.HeaderY : s.MarginT;
    g.BodyTop = s.HeaderY >= 0 ? std::max<double>(s.MarginT, g.HeaderTop + g.HeaderHeight) : s.MarginT + g.HeaderHeight;
    const double footerBottom = s.FooterY >= 0 ? s.PageHeight - s.FooterY : s.PageHeight - s.MarginB;
    g.FooterTop = footerBottom - g.FooterHeight;
    const double bodyBottom = s.FooterY >= 0 ? std::min<double>(s.PageHeight - s.MarginB, g.FooterTop) : g.FooterTop;
    g.BodyHeight = std::max(kMinBodyHeight, bodyBottom - g.BodyTop);
    FMain->Doc->setPageSize(QSizeF(g.Width, g.BodyHeight));
    FLayoutDirty = false;
}

int DocumentEngine::CurrentPages()
{
    UpdateLayout();
    return std::max(1, FMain->Doc->pageCount());
}

void DocumentEngine::DrawPage(QPainter& painter, int page)
{
    UpdateLayout();
    const TPageGeometry& g = FGeometry;
    painter.save();
    const QPaintDevice* device = painter.device();
    painter.scale(device->logicalDpiX() / 1440.0, device->logicalDpiY() / 1440.0);

    const int pages = CurrentPages();
    auto drawPart = [&](const TEnginePart& part, double top, double clipTop, double height) {
        painter.save();
        painter.translate(FSetup.MarginL, top - clipTop);
        const std::unique_ptr<QTextDocument> paged = WithPageValues(part, g.Width, page, pages);
        // Half a twip inside the page edge, so the next page's first line is not drawn.
        (paged ? paged.get() : part.Doc.get())
            ->drawContents(&painter, QRectF(0, clipTop + 0.5, g.Width, std::max(0.0, height - 1.0)));
        painter.restore();
    };
    if (g.HeaderHeight > 0)
        drawPart(*FHeader, g.HeaderTop, 0, g.HeaderHeight);
    // The main text line by line: a paragraph split over two pages must not
    // leave its other page's lines in this page's text, even clipped.
    {
        const double bandTop = (page - 1) * g.BodyHeight;
        const double bandBottom = bandTop + g.BodyHeight;
        painter.save();
        painter.translate(FSetup.MarginL, g.BodyTop - bandTop);
        painter.setClipRect(QRectF(0, bandTop, g.Width, g.BodyHeight));
        QAbstractTextDocumentLayout* layout = FMain->Doc->documentLayout();
        for (QTextBlock block = FMain->Doc->begin(); block.isValid(); block = block.next()) {
            const QRectF box = layout->blockBoundingRect(block);
            if (box.bottom() < bandTop || box.top() >= bandBottom)
                continue;
            const QTextLayout* lines = block.layout();
            for (int i = 0; i < lines->lineCount(); ++i) {
                const QTextLine line = lines->lineAt(i);
                const double top = lines->position().y() + line.y();
                if (top + 0.5 >= bandTop && top < bandBottom - 0.5)
                    line.draw(&painter, lines->position());
            }
        }
        painter.restore();
    }
    if (g.FooterHeight > 0)
        drawPart(*FFooter, g.FooterTop, 0, g.FooterHeight);

    for (const TPositionedImage& image : FImages)
        if (image.EveryPage || page == 1)
            painter.drawImage(QRectF(image.PosX, image.PosY, image.WidthTwips(), image.HeightTwips()), image.Image);
    painter.restore();
}
