// PCL 5 page files as printer drivers write them: the printer set-up, the
// cursor home, the overlay insertion mark once, the page as a 300-dpi raster
// with compressed rows, and the page end (FF ESC E). Both overlay routes of
// the LPR queue work on such a file: a macro call goes in front of the mark,
// an overlay merge takes everything from the cursor home to the page end.
#pragma once

#include <QImage>

#include <string>
#include <string_view>
#include <vector>

inline constexpr int kPclDpi = 300;

struct TPclPageSetup {
    int PaperCode = 9;     // the device mode's paper code
    bool Landscape = false;
    int Source = 0;        // ESC & l # H; 0 keeps the printer's own tray
};

// One page. The image is Format_Mono with colour index 1 for ink, the size
// of the page's printable width and its height at 300 dpi.
std::string PclPage(const QImage& page, const TPclPageSetup& setup);

// Raster rows, each on its own, as the writer encodes them. Mode 2 output
// never holds the page end (FF ESC E) among its bytes.
std::string PackBitsRow(std::string_view row);
std::string DeltaRow(std::string_view row, std::string_view seed);

// Reads back the raster pages of a PCL stream (compression modes 0, 2 and 3,
// Y offsets); other commands are passed over. Any bytes are safe: at most
// kMaxDecodedPages pages, each at most the size of A3 at 300 dpi.
inline constexpr int kMaxDecodedPages = 64;
std::vector<QImage> DecodePclRaster(std::string_view pcl, std::string* error = nullptr);
