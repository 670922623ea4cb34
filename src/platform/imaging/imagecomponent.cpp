#include "platform/imaging/imagecomponent.h"

#include "util/codepage.h"
#include "util/fileutil.h"

#include <QImageReader>

void TImageComponent::SetImageName(std::string_view path)
{
    FImageName = std::string(path);
    FLastError.clear();
    if (path.empty() || !FileExists(path))
        return;
    QImageReader reader(ToUnicode(path));
    reader.setAllocationLimit(kMaxMegabytes);
    // Scans carry their orientation; the picture is printed as it was meant to be seen.
    reader.setAutoTransform(true);
    QImage picture;
    if (!reader.read(&picture) || picture.isNull()) {
        FLastError = FromUnicode(reader.errorString());
        return;
    }
    FPicture = std::move(picture);
}
