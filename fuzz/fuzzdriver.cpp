// A fuzz target without libFuzzer, for the normal build's tests: it feeds
// LLVMFuzzerTestOneInput every file named on the command line (a folder:
// every file under it), each also cut short and with a few bytes changed,
// and a set of fixed awkward inputs. A target that no longer builds, or
// that crashes, hangs or fails its own checks on these, fails its test;
// "make fuzz" is where new inputs are found.
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

// Far beyond what any input takes; only a hang reaches it.
constexpr unsigned kSecondsPerInput = 120;

struct TInput {
    std::string Name;
    std::string Bytes;
};

// The input being run, for the message when it hangs.
char currentName[512];

void OnHang(int)
{
    static const char text[] = "fuzzdriver: no return within the time limit on ";
    (void)!::write(STDERR_FILENO, text, sizeof text - 1);
    (void)!::write(STDERR_FILENO, currentName, std::strlen(currentName));
    (void)!::write(STDERR_FILENO, "\n", 1);
    ::_exit(3);
}

std::vector<TInput> FixedInputs()
{
    std::string everyByte;
    for (int c = 0; c < 256; ++c)
        everyByte += static_cast<char>(c);
    std::string braces;
    for (int i = 0; i < 2000; ++i)
        braces += "{\\";
    return {
        {"empty", ""},
        {"a NUL", std::string(1, '\0')},
        {"0xFF", "\xff"},
        {"every byte", everyByte},
        {"every byte backwards", std::string(everyByte.rbegin(), everyByte.rend())},
        {"an open brace", "{"},
        {"a lone backslash", "\\"},
        {"an RTF start", "{\\rtf1"},
        {"nested RTF starts", "{\\rtf1{\\rtf1{\\rtf1{\\*\\"},
        {"open groups", braces},
        {"an escape", "\x1b"},
        {"a raster row without its data", "\x1b*b99999W"},
        {"a huge number", "\x1b*r99999999999999999999S\x1b*p-99999999999X"},
        {"field separators", "~^~^^~~HV_~^HV_X~"},
        {"a registry header", "REGEDIT4\r\n[HKEY\\"},
        {"UTF-16 byte order mark", "\xff\xfe"},
        {"UTF-8 byte order mark", "\xef\xbb\xbf"},
        {"a long run", std::string(70000, 'A')},
        {"Base64 padding", "===="},
        {"a placeable metafile key", std::string("\xd7\xcd\xc6\x9a", 4) + std::string(40, '\xff')},
        {"an EMF header", std::string("\x01\x00\x00\x00\xff\xff\xff\x7f", 8) + std::string(80, '\0')},
    };
}

bool ReadWhole(const std::filesystem::path& path, std::string& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// A file whole, cut short, and with a few bytes changed (the same bytes on
// every run).
void AddFile(const std::filesystem::path& path, const std::string& bytes, std::vector<TInput>& inputs)
{
    const std::string name = path.string();
    inputs.push_back({name, bytes});
    if (bytes.size() < 2)
        return;
    inputs.push_back({name + " (first half)", bytes.substr(0, bytes.size() / 2)});
    inputs.push_back({name + " (last byte missing)", bytes.substr(0, bytes.size() - 1)});
    std::string changed = bytes;
    std::minstd_rand random(static_cast<unsigned>(bytes.size()));
    for (int i = 0; i < 16; ++i)
        changed[random() % changed.size()] = static_cast<char>(random() % 256);
    inputs.push_back({name + " (bytes changed)", changed});
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<TInput> inputs = FixedInputs();
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path seed(argv[i]);
        std::vector<std::filesystem::path> found;
        std::error_code error;
        if (std::filesystem::is_directory(seed, error)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(seed))
                if (entry.is_regular_file())
                    found.push_back(entry.path());
            std::sort(found.begin(), found.end());
        } else {
            found.push_back(seed);
        }
        if (found.empty()) {
            std::fprintf(stderr, "fuzzdriver: no seed files in %s\n", argv[i]);
            return 2;
        }
        for (const auto& path : found) {
            std::string bytes;
            if (!ReadWhole(path, bytes)) {
                std::fprintf(stderr, "fuzzdriver: cannot read %s\n", path.c_str());
                return 2;
            }
            AddFile(path, bytes, inputs);
            ++files;
        }
    }

    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    std::signal(SIGALRM, OnHang);
    for (const TInput& input : inputs) {
        std::snprintf(currentName, sizeof currentName, "%s", input.Name.c_str());
        // The name first: a crash leaves it as the last line.
        std::printf("%s (%zu bytes)\n", input.Name.c_str(), input.Bytes.size());
        std::fflush(stdout);
        ::alarm(kSecondsPerInput);
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.Bytes.data()), input.Bytes.size());
        ::alarm(0);
    }
    std::printf("fuzzdriver: %zu inputs (%d seed files) ran\n", inputs.size(), files);
    return 0;
}
