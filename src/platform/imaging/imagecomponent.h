// The image component: a picture decoded from a file by QImage's readers
// (Qt's image-format plugins add TIFF and TGA). Setting ImageName to an
// existing file decodes it into Picture; a missing file, a file that does not
// decode, or empty text leaves Picture as it was.
#pragma once

#include <QImage>
#include <string>
#include <string_view>

class TImageComponent {
public:
    // Larger pictures are refused rather than allocated.
    static constexpr int kMaxMegabytes = 256;

    void SetImageName(std::string_view path);
    const std::string& ImageName() const { return FImageName; }
    const QImage& Picture() const { return FPicture; }
    // Why the last file set did not decode; empty when it did.
    const std::string& LastError() const { return FLastError; }

private:
    std::string FImageName;
    QImage FPicture;
    std::string FLastError;
};
