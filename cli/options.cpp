// quillet-batch's options through getopt_long, so that every GNU spelling works.
#include "cli/options.h"

#include "core/numbers.h"

#include <getopt.h>

#include <cstring>
#include <initializer_list>
#include <optional>

namespace quillet::cli {
namespace {

// Long options without a short letter take codes above any character.
enum : int {
    kRule = 256, kPortrait, kCropPosition, kMethod, kFormat, kEnhancedSampling, kNoEnhancedSampling,
    kCopyExif, kStripGps, kSrgb, kNoAutoRotate, kAutoBrightness, kSharpen, kBoostColor, kFast,
    kSkipExisting, kFilesFrom, kShard, kReport, kVersion, kSize, kQuiet, kVerbose, kOverwrite, kKeepFolders,
    kSkippedOk
};

const option kLongOptions[] = {
    {"width", required_argument, nullptr, 'W'},
    {"height", required_argument, nullptr, 'H'},
    {"size", required_argument, nullptr, kSize},
    {"rule", required_argument, nullptr, kRule},
    {"portrait", required_argument, nullptr, kPortrait},
    {"crop-position", required_argument, nullptr, kCropPosition},
    {"method", required_argument, nullptr, kMethod},
    {"format", required_argument, nullptr, kFormat},
    {"quality", required_argument, nullptr, 'q'},
    {"enhanced-sampling", no_argument, nullptr, kEnhancedSampling},
    {"no-enhanced-sampling", no_argument, nullptr, kNoEnhancedSampling},
    {"copy-exif", no_argument, nullptr, kCopyExif},
    {"strip-gps", no_argument, nullptr, kStripGps},
    {"srgb", no_argument, nullptr, kSrgb},
    {"no-auto-rotate", no_argument, nullptr, kNoAutoRotate},
    {"auto-brightness", no_argument, nullptr, kAutoBrightness},
    {"sharpen", no_argument, nullptr, kSharpen},
    {"boost-color", no_argument, nullptr, kBoostColor},
    {"subdirs", no_argument, nullptr, 'r'},
    {"all-types", no_argument, nullptr, 'a'},
    {"jobs", required_argument, nullptr, 'j'},
    {"fast", no_argument, nullptr, kFast},
    {"skip-existing", no_argument, nullptr, kSkipExisting},
    {"overwrite", no_argument, nullptr, kOverwrite},
    {"keep-folders", no_argument, nullptr, kKeepFolders},
    {"skipped-ok", no_argument, nullptr, kSkippedOk},
    {"dry-run", no_argument, nullptr, 'n'},
    {"files-from", required_argument, nullptr, kFilesFrom},
    {"shard", required_argument, nullptr, kShard},
    {"report", required_argument, nullptr, kReport},
    {"quiet", no_argument, nullptr, kQuiet},
    {"verbose", no_argument, nullptr, kVerbose},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};
constexpr char kShortOptions[] = ":W:H:q:j:ra0nh";

// A side of the thumbnail: a number too large to hold is kept too large, so the run's own
// check names the limit.
std::optional<uint32_t> ParseSide(const std::string& word)
{
    if (!word.empty() && word.find_first_not_of("0123456789") == std::string::npos && !ParseUnsigned(word))
        return UINT32_MAX;
    return ParseUnsigned(word);
}

std::optional<int32_t> ParseChoice(const char* text, std::initializer_list<const char*> names)
{
    int32_t index = 0;
    for (const char* name : names) {
        if (std::strcmp(text, name) == 0)
            return index;
        ++index;
    }
    return std::nullopt;
}

// "800x600" or "800" for an 800 x 800 box.
bool ParseSize(const std::string& text, uint32_t& width, uint32_t& height)
{
    const size_t x = text.find_first_of("xX");
    const auto w = ParseSide(text.substr(0, x));
    const auto h = x == std::string::npos ? w : ParseSide(text.substr(x + 1));
    if (!w || !h)
        return false;
    width = *w;
    height = *h;
    return true;
}

std::string Spelled(const option& o, int code)
{
    return o.name ? std::string("--") + o.name : std::string("-") + static_cast<char>(code);
}

// The option getopt stopped at: a long one as written (without its value), else its letter.
// getopt gives the letter of an unknown short option and 0 for an unknown long one, which
// is then the word it has just passed.
std::string Offending(char** argv, int letter, bool missingValue)
{
    const std::string word = argv[optind - 1];
    if ((missingValue || letter == 0) && word.rfind("--", 0) == 0)
        return word.substr(0, word.find('='));
    return std::string("-") + static_cast<char>(letter);
}

}  // namespace

Parsed ParseOptions(int argc, char** argv, Options& options, std::string& message)
{
    BatchSettings& s = options.settings;
    opterr = 0;   // the messages are ours
    optind = 0;   // 0 starts getopt afresh, also when called twice in one process
    auto bad = [&](std::string text) {
        message = std::move(text);
        return Parsed::BadUsage;
    };
    for (;;) {
        int index = -1;
        const int code = getopt_long(argc, argv, kShortOptions, kLongOptions, &index);
        if (code == -1)
            break;
        const option& o = index >= 0 ? kLongOptions[index] : option{nullptr, 0, nullptr, 0};
        const std::string name = Spelled(o, code);
        const std::string value = optarg ? optarg : "";
        // A whole number in [low, high].
        auto inRange = [&](uint32_t& field, uint32_t low, uint32_t high) {
            const auto n = ParseUnsigned(value);
            if (!n || *n < low || *n > high)
                return false;
            field = *n;
            return true;
        };
        switch (code) {
        case 'h': return Parsed::Help;
        case kVersion: return Parsed::Version;
        case 'W':
        case 'H': {
            const auto side = ParseSide(value);
            if (!side)
                return bad(name + " needs a whole number");
            (code == 'W' ? s.Width : s.Height) = *side;
            break;
        }
        case kSize:
            if (!ParseSize(value, s.Width, s.Height))
                return bad("--size takes WIDTHxHEIGHT or one number for a square, such as 800x600");
            break;
        case 'q':
            if (!inRange(s.Quality, 1, 100))
                return bad(name + " takes a whole number from 1 to 100");
            break;
        case kCropPosition:
            if (!inRange(s.Middle, 0, 100))
                return bad("--crop-position takes a whole number from 0 to 100");
            break;
        case 'j': {
            uint32_t n = 0;
            if (!inRange(n, 1, 4096))
                return bad(name + " takes a whole number from 1 to 4096");
            options.jobs = n;
            break;
        }
        case kRule: {
            const auto rule = ParseChoice(value.c_str(), {"perfect-fit", "fit-outside", "fit-inside"});
            if (!rule)
                return bad("--rule takes perfect-fit, fit-outside or fit-inside");
            s.Type = *rule;
            options.ruleGiven = true;
            break;
        }
        case kPortrait: {
            const auto rule = ParseChoice(value.c_str(), {"reverse-box", "fit-inside-all", "crop-landscape", "rules-only"});
            if (!rule)
                return bad("--portrait takes reverse-box, fit-inside-all, crop-landscape or rules-only");
            s.Portrait = *rule;
            break;
        }
        case kFormat: {
            const auto format = ParseChoice(value.c_str(), {"jpeg", "webp", "avif"});
            if (!format)
                return bad("--format takes jpeg, webp or avif");
            s.Format = static_cast<uint32_t>(*format);
            break;
        }
        case kMethod: {
            const auto method = ParseChoice(value.c_str(), {"bilinear", "bicubic"});
            if (!method)
                return bad("--method takes bilinear or bicubic");
            s.ResType = *method;
            break;
        }
        case kEnhancedSampling: s.Sampling = 1; break;
        case kNoEnhancedSampling: s.Sampling = 0; break;
        case kCopyExif: s.CopyExif = 1; break;
        case kStripGps: s.StripGPS = 1; break;
        case kSrgb: s.ToSRGB = 1; break;
        case kNoAutoRotate: s.AutoRotate = 0; break;
        case kAutoBrightness: s.Autolev = 1; break;
        case kSharpen: s.Sharpen = 1; break;
        case kBoostColor: s.Boost = 1; break;
        case 'r': s.SubDirs = 1; break;
        case 'a': s.AllTypes = 1; break;
        case kFast: s.FastDecode = 1; break;
        case kSkipExisting: s.OnlyNew = 1; break;
        case kOverwrite: s.Overwrite = 1; break;
        case kKeepFolders: s.KeepFolders = 1; break;
        case kSkippedOk: options.skippedOk = true; break;
        case 'n': s.DryRun = 1; break;
        case '0': options.nulSeparated = true; break;
        case kQuiet: options.quiet = true; break;
        case kVerbose: options.verbose = true; break;
        case kFilesFrom:
        case kShard:
        case kReport:
            if (value.empty())
                return bad(name + " needs a value");
            (code == kFilesFrom ? options.filesFrom : code == kShard ? options.shard : options.report) = value;
            break;
        case ':':
            return bad(Offending(argv, optopt, true) + " needs a value");
        default:
            return bad("unknown option " + Offending(argv, optopt, false));
        }
    }
    for (int i = optind; i < argc; ++i)
        options.folders.emplace_back(argv[i]);
    if (options.quiet && options.verbose)
        return bad("--quiet and --verbose exclude each other");
    return Parsed::Run;
}

}  // namespace quillet::cli
