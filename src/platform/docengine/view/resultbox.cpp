#include "platform/docengine/view/resultbox.h"

#include "platform/docengine/documentengine.h"

#include <QPainter>
#include <QResizeEvent>

namespace {

constexpr int kGap = 12;  // pixels between pages and around them

}  // namespace

class TResultBox::TPages : public QWidget {
public:
    explicit TPages(DocumentEngine& engine) : FEngine(engine) {}

    double Scale() const
    {
        const double pageWidth = FEngine.PageWidth() * logicalDpiX() / 1440.0;
        return std::clamp((width() - 2.0 * kGap) / pageWidth, 0.1, 1.5);
    }

    int PageHeightPixels() const { return static_cast<int>(FEngine.PageHeight() * logicalDpiY() / 1440.0 * Scale()); }

    void FitTo(int viewportWidth)
    {
        const int pages = FEngine.CurrentPages();
        setFixedWidth(std::max(100, viewportWidth));
        setFixedHeight(kGap + pages * (PageHeightPixels() + kGap));
        update();
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter p(this);
        p.fillRect(event->rect(), palette().color(QPalette::Dark));
        const double scale = Scale();
        const int pageWidth = static_cast<int>(FEngine.PageWidth() * logicalDpiX() / 1440.0 * scale);
        const int pageHeight = PageHeightPixels();
        const int left = (width() - pageWidth) / 2;
        const int pages = FEngine.CurrentPages();
        for (int page = 1; page <= pages; ++page) {
            const QRect box(left, kGap + (page - 1) * (pageHeight + kGap), pageWidth, pageHeight);
            if (!box.intersects(event->rect()))
                continue;
            p.fillRect(box, Qt::white);
            p.save();
            p.translate(box.topLeft());
            p.scale(scale, scale);
            p.setClipRect(QRectF(0, 0, box.width() / scale, box.height() / scale));
            FEngine.DrawPage(p, page);
            p.restore();
        }
    }

private:
    DocumentEngine& FEngine;
};

TResultBox::TResultBox(DocumentEngine& engine, QWidget* parent) : QScrollArea(parent), FPages(new TPages(engine))
{
    setWidget(FPages);
    setWidgetResizable(false);
    setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    setBackgroundRole(QPalette::Dark);
    Refresh();
}

void TResultBox::Refresh()
{
    FPages->FitTo(viewport()->width());
}

void TResultBox::resizeEvent(QResizeEvent* event)
{
    QScrollArea::resizeEvent(event);
    Refresh();
}
