// Helpers for the document engine's tests: RTF made for a test loaded as a
// file, pages drawn on an image, the text of a page of the engine's PDF.
#pragma once

#include "platform/docengine/documentengine.h"

#include <QColor>
#include <QImage>
#include <QRect>

#include <functional>
#include <memory>
#include <string>

// The engine with this RTF loaded as a letterhead file.
std::unique_ptr<DocumentEngine> LoadRtf(const std::string& rtf);

// Page n drawn on white at 96 dots to the inch (15 twips to the pixel), at
// the size of its section's page.
QImage RenderPage(DocumentEngine& engine, int page);

// What pdftotext reads from page n of the engine's PDF.
std::string PageText(DocumentEngine& engine, int page);

// Pixels of a rectangle that pass a test.
int CountPixels(const QImage& image, const QRect& area, const std::function<bool(const QColor&)>& test);
bool IsDark(const QColor& c);
bool IsRed(const QColor& c);
bool IsBlue(const QColor& c);

// A PNG of one colour, with its resolution in dots to the inch (0: none).
QByteArray PngBytes(int width, int height, const QColor& color, int dpi);
