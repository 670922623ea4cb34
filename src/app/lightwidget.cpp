#include "app/lightwidget.h"

#include <QPainter>

TLightWidget::TLightWidget(QWidget* parent) : QWidget(parent)
{
    setFixedSize(20, 20);
}

void TLightWidget::SetColor(TLightColor color)
{
    FColor = color;
    repaint();  // at once: a busy thread would not repaint until its step ends
}

QColor TLightWidget::PaintColor() const
{
    switch (FColor) {
    case TLightColor::Green: return QColor(0, 128, 0);
    case TLightColor::Red: return QColor(255, 0, 0);
    case TLightColor::Off: break;
    }
    return palette().color(QPalette::Button);
}

void TLightWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(palette().color(QPalette::Dark), 1));
    p.setBrush(PaintColor());
    p.drawEllipse(QRectF(0.5, 0.5, width() - 1.0, height() - 1.0));
}
