// Every spelling of quillet-batch's options, old and GNU, through the one parser.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

using quillet::cli::Options;
using quillet::cli::Parsed;

struct Spelling {
    const char* words;       // split on spaces
    Parsed parsed;
    const char* expect;      // "field=value ..." of the result, or the start of the message
};

std::string Described(const Options& o)
{
    std::ostringstream out;
    const auto& s = o.settings;
    out << "w=" << s.Width << " h=" << s.Height << " q=" << s.Quality << " crop=" << s.Middle
        << " r=" << s.SubDirs << " a=" << s.AllTypes << " j=" << o.jobs << " rule=" << s.Type
        << " sampling=" << s.Sampling << " nul=" << o.nulSeparated << " quiet=" << o.quiet
        << " verbose=" << o.verbose << " list=" << o.filesFrom << " report=" << o.report << " folders=";
    for (const auto& f : o.folders)
        out << f << ";";
    return out.str();
}

TEST(Options, EverySpellingGivesTheSameSettingsOrAClearRefusal)
{
    const Spelling rows[] = {
        // today's spellings keep working
        {"-W 800 -H 600 -q 90 -r -a -j 2 src dst", Parsed::Run,
         "w=800 h=600 q=90 crop=65 r=1 a=1 j=2 rule=0 sampling=1 nul=0 quiet=0 verbose=0 list= report= folders=src;dst;"},
        {"--width 800 --height 600 --quality 90 --subdirs --all-types --jobs 2 src dst", Parsed::Run,
         "w=800 h=600 q=90 crop=65 r=1 a=1 j=2"},
        // GNU forms
        {"--width=800 --height=600 --quality=90 src dst", Parsed::Run, "w=800 h=600 q=90"},
        {"-W800 -H600 -q90 src dst", Parsed::Run, "w=800 h=600 q=90"},
        {"-raj2 src dst", Parsed::Run, "w=640 h=480 q=80 crop=65 r=1 a=1 j=2"},
        {"src --width 800 dst", Parsed::Run, "w=800"},
        {"--size 800x600 src dst", Parsed::Run, "w=800 h=600"},
        {"--size=300 src dst", Parsed::Run, "w=300 h=300"},
        {"--rule=fit-outside --no-enhanced-sampling src dst", Parsed::Run, "w=640 h=480 q=80 crop=65 r=0 a=0 j=0 rule=1 sampling=0"},
        {"--files-from - -0 --report - --quiet src dst", Parsed::Run, "w=640"},
        {"-- -src -dst", Parsed::Run, "w=640"},
        // a side too large to hold stays too large: the run names the limit
        {"-W 99999999999 src dst", Parsed::Run, "w=4294967295"},
        {"--help", Parsed::Help, ""},
        {"-W 5 --version", Parsed::Version, ""},
        // refusals name the range or the option
        {"-q 0 src dst", Parsed::BadUsage, "-q takes a whole number from 1 to 100"},
        {"--quality=1000 src dst", Parsed::BadUsage, "--quality takes a whole number from 1 to 100"},
        {"--crop-position 150 src dst", Parsed::BadUsage, "--crop-position takes a whole number from 0 to 100"},
        {"-j 0 src dst", Parsed::BadUsage, "-j takes a whole number from 1 to 4096"},
        {"--size 800y600 src dst", Parsed::BadUsage, "--size takes WIDTHxHEIGHT"},
        {"--rule sideways src dst", Parsed::BadUsage, "--rule takes perfect-fit"},
        {"--width", Parsed::BadUsage, "--width needs a value"},
        {"src dst -W", Parsed::BadUsage, "-W needs a value"},
        {"--bogus=1 src dst", Parsed::BadUsage, "unknown option --bogus"},
        {"-rx src dst", Parsed::BadUsage, "unknown option -x"},
        {"--quiet --verbose src dst", Parsed::BadUsage, "--quiet and --verbose exclude each other"},
    };
    // Twice, since getopt keeps state between calls.
    for (int round = 0; round < 2; ++round) {
        for (const Spelling& row : rows) {
            std::vector<std::string> words{"quillet-batch"};
            std::istringstream in(row.words);
            for (std::string w; in >> w;)
                words.push_back(w);
            std::vector<char*> argv;
            for (auto& w : words)
                argv.push_back(w.data());
            argv.push_back(nullptr);
            Options options;
            std::string message;
            const Parsed parsed = quillet::cli::ParseOptions(static_cast<int>(words.size()), argv.data(), options, message);
            ASSERT_EQ(parsed, row.parsed) << row.words << ": " << message;
            const std::string got = parsed == Parsed::BadUsage ? message : Described(options);
            EXPECT_EQ(got.substr(0, std::strlen(row.expect)), row.expect) << row.words;
        }
    }
}

}  // namespace
