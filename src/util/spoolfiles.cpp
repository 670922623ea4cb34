#include "util/spoolfiles.h"

#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/textutil.h"

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

// Only plain files: a pipe or device named like a request would block its reader.
int AppendSpoolFiles(std::string_view mask, std::vector<std::string>& list, std::vector<std::string>* unreadable)
{
    const std::string dir = ExtractFileDir(mask);
    const std::string pattern = ExtractFileName(mask);
    if (DIR* d = ::opendir(NativePath(dir.empty() ? std::string("./") : dir).c_str())) {
        int added = 0;
        while (dirent* e = ::readdir(d)) {
            const std::string name = SystemName(e->d_name);
            if (!MatchesMask(name, pattern))
                continue;
            if (!ReadableName(e->d_name)) {
                if (unreadable)
                    unreadable->push_back(name);
                continue;
            }
            struct stat st {};
            if (::stat(NativePath(dir + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                continue;
            list.push_back(name + ";" + std::to_string(static_cast<long long>(st.st_size)));
            if (++added >= kMaxListedFiles)
                break;
        }
        ::closedir(d);
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
    return static_cast<int>(list.size());
}

int ListSpoolFiles(std::string_view mask, std::vector<std::string>& list, std::vector<std::string>* unreadable)
{
    list.clear();
    return AppendSpoolFiles(mask, list, unreadable);
}
