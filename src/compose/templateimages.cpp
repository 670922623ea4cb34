#include "compose/templateimages.h"

#include "platform/docengine/rtfreader.h"
#include "util/codepage.h"
#include "util/fileutil.h"

#include <algorithm>

void ScanTemplateImages(const std::string& path, TImageRecordArray& images)
{
    if (!FileExists(path))
        return;
    for (const TPositionedImage& found : ReadOwnFormatImages(ToUnicode(path))) {
        if (found.LayoutCodeB >= 4)
            continue;  // layouts the placing cannot reproduce
        TImageRecord image;
        static_cast<TImagePlacement&>(image) = found;
        image.FileName = FromUnicode(found.FileName);
        image.FromRequest = false;
        // A template image that agrees in everything but the file name is there already.
        const bool known = std::any_of(images.begin(), images.end(), [&](const TImageRecord& other) {
            TImageRecord same = other;
            same.FileName = image.FileName;
            return !other.FromRequest && same == image;
        });
        if (!known)
            images.push_back(std::move(image));
    }
}
