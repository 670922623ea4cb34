// ResultBox: the window's view of the document being composed, its pages one
// under the other on a grey desk, scaled to fit the width.
#pragma once

#include <QScrollArea>

class DocumentEngine;

class TResultBox : public QScrollArea {
    Q_OBJECT
public:
    explicit TResultBox(DocumentEngine& engine, QWidget* parent = nullptr);
    // Repaints after the document changed.
    void Refresh();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    class TPages;
    TPages* FPages;
};
