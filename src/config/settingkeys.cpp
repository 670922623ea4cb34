#include "config/settingkeys.h"

#include "util/textutil.h"

bool SettingIsOn(std::string_view value)
{
    const std::string trimmed = Trim(value);
    if (trimmed.empty())
        return false;
    const char first = trimmed[0];
    return first == 'Y' || first == 'y' || first == 'T' || first == 't';
}
