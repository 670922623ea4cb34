// A round status light, 20 x 20 pixels: off (button face), green or red.
#pragma once

#include "util/indicators.h"

#include <QWidget>

class TLightWidget : public QWidget {
    Q_OBJECT
public:
    explicit TLightWidget(QWidget* parent = nullptr);
    void SetColor(TLightColor color);
    TLightColor Color() const { return FColor; }
    QColor PaintColor() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TLightColor FColor = TLightColor::Off;
};
