// quillet-thumbnailer: one picture's thumbnail as a PNG, for file managers that follow the
// freedesktop thumbnail conventions (deploy/linux/quillet.thumbnailer calls it).
#include "core/batch.h"
#include "core/file_types.h"
#include "core/version.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <string>

namespace {

const char kUsage[] =
    "Usage: quillet-thumbnailer [-s SIZE] INPUT OUTPUT\n"
    "Writes a PNG thumbnail of the picture INPUT to OUTPUT, fitted inside SIZE x SIZE pixels\n"
    "(a smaller picture keeps its size) and turned upright. INPUT may be a path or a file:// URI.\n"
    "\n"
    "  -s, --size SIZE   the largest side of the thumbnail, 1 to 4096 (128)\n"
    "  -h, --help        this text\n"
    "      --version     the program's version\n"
    "\n"
    "Exit status: 0 written, 1 the picture cannot be read or the thumbnail not written, 2 bad usage.\n";

// A file:// URI as a local path ("%20" and the like decoded); anything else is a path already.
std::string LocalPath(const std::string& input)
{
    const std::string scheme = "file://";
    if (input.compare(0, scheme.size(), scheme) != 0)
        return input;
    std::string path;
    // "file://host/path": the host part is empty or localhost for a local file.
    const size_t start = input.find('/', scheme.size());
    for (size_t i = start == std::string::npos ? input.size() : start; i < input.size(); ++i) {
        const char c = input[i];
        if (c == '%' && i + 2 < input.size() && std::isxdigit(static_cast<unsigned char>(input[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(input[i + 2]))) {
            path += static_cast<char>(std::strtol(input.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            path += c;
        }
    }
    return path;
}

int Usage(const char* problem)
{
    std::fprintf(stderr, "quillet-thumbnailer: %s\nTry 'quillet-thumbnailer --help'.\n", problem);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    static const option kOptions[] = {{"size", required_argument, nullptr, 's'},
                                      {"help", no_argument, nullptr, 'h'},
                                      {"version", no_argument, nullptr, 'V'},
                                      {nullptr, 0, nullptr, 0}};
    long size = 128;
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, ":s:h", kOptions, nullptr)) != -1;) {
        switch (c) {
        case 's': {
            char* end = nullptr;
            errno = 0;
            size = std::strtol(optarg, &end, 10);
            if (errno || end == optarg || *end || size < 1 || size > 4096)
                return Usage("the size must be a number from 1 to 4096");
            break;
        }
        case 'h':
            std::fputs(kUsage, stdout);
            return 0;
        case 'V':
            std::printf("quillet-thumbnailer %s\n%s\n%s\n", QUILLET_VERSION, QUILLET_COPYRIGHT, QUILLET_LICENCE);
            return 0;
        case ':':
            return Usage("an option lacks its value");
        default:
            return Usage("unknown option");
        }
    }
    if (argc - optind != 2)
        return Usage("give one INPUT and one OUTPUT");
    const std::string input = LocalPath(argv[optind]);
    const std::string output = argv[optind + 1];
    const auto side = static_cast<uint32_t>(size);
    if (std::string failure = quillet::WriteFileManagerThumbnail(input, output, side); !failure.empty()) {
        std::fprintf(stderr, "quillet-thumbnailer: %s: %s\n", input.c_str(), failure.c_str());
        return 1;
    }
    return 0;
}
