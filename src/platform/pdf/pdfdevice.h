// A PDF drawn with a QPainter at a given resolution (1440 dots to the inch:
// twips), y down, written in memory. Text stays text in embedded font subsets (see pdffonts.h);
// images are embedded once per document; paths, pens, fills and clips are
// written as PDF operators.
#pragma once

#include <QByteArray>
#include <QPaintDevice>
#include <QSizeF>
#include <QString>

#include <memory>

class TPdfEngine;

class TPdfDevice : public QPaintDevice {
public:
    // The first page's size in dots.
    explicit TPdfDevice(QSizeF pageSize, int dotsPerInch = 1440);
    ~TPdfDevice() override;

    void SetTitle(const QString& title);
    void SetCreator(const QString& creator);
    // Starts the next page, while the painter is still active.
    void NewPage(QSizeF pageSize);
    // The whole file, once the painter has ended.
    QByteArray Bytes() const;

    QPaintEngine* paintEngine() const override;

protected:
    int metric(PaintDeviceMetric metric) const override;

private:
    std::unique_ptr<TPdfEngine> FEngine;
};
