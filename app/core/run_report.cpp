// What the desktop program tells about a run.
#include "core/run_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

// The translation tools collect the texts marked so; the core itself does not translate.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(scope, text) text
#endif
#ifndef QT_TRANSLATE_N_NOOP
#define QT_TRANSLATE_N_NOOP(scope, text) text
#endif

namespace quillet {

std::string FileLineText(uint32_t position, uint32_t count, const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return std::to_string(uint64_t{position} + 1) + " of " + std::to_string(count) + ": " + name;
}

std::string RunDetailsText(const BatchResult& result, const std::string& sourceFolder,
                           const std::vector<std::string>& incompleteSources,
                           const TranslateText& translate)
{
    std::string base = sourceFolder;
    if (!base.empty() && base.back() != '/')
        base += '/';
    auto name = [&](const std::string& path) {
        return !base.empty() && path.rfind(base, 0) == 0 ? path.substr(base.size()) : path;
    };
    std::string details;
    for (const auto* list : {&result.skipped, &result.kept})
        for (const SkippedFile& file : *list)
            details += name(file.path) + ": " + file.reason + "\n";
    const std::string why =
        translate(QT_TRANSLATE_NOOP("RunReport", "its data ended early; the thumbnail is partly filled in"), -1);
    for (const std::string& path : incompleteSources)
        details += name(path) + ": " + why + "\n";
    if (!details.empty())
        details.pop_back();
    return details;
}

std::string EnglishText(const char* source, long n)
{
    std::string text = source;
    for (size_t at; (at = text.find("%n")) != std::string::npos;)
        text.replace(at, 2, std::to_string(n));
    for (size_t at; (at = text.find("(s)")) != std::string::npos;)
        text.replace(at, 3, n == 1 ? "" : "s");
    return text;
}

std::string DurationText(double seconds, char decimalPoint)
{
    char text[64];
    if (!(seconds >= 0) || !std::isfinite(seconds))
        seconds = 0;
    // Hours beyond any real run would overflow the whole number they are printed from.
    seconds = std::min(seconds, 1e15);
    if (seconds < 10)
        std::snprintf(text, sizeof text, "%d%c%d s", int(seconds), decimalPoint, int(seconds * 10) % 10);
    else if (seconds < 60)
        std::snprintf(text, sizeof text, "%.0f s", std::floor(seconds));
    else if (seconds < 3600)
        std::snprintf(text, sizeof text, "%d min %02d s", int(seconds) / 60, int(seconds) % 60);
    else
        std::snprintf(text, sizeof text, "%lld h %02d min", static_cast<long long>(seconds) / 3600,
                      int(std::fmod(seconds, 3600)) / 60);
    return text;
}

std::string RunEndText(const BatchResult& result, uint32_t fileCount, double seconds, const TranslateText& translate,
                       char decimalPoint)
{
    auto fill = [&](const char* source, long n, const std::string& first = {}) {
        std::string text = translate(source, n);
        if (const size_t at = text.find("%1"); at != std::string::npos)
            text.replace(at, 2, first);
        return text;
    };
    std::string text;
    if (result.destinationLost)
        text = fill(DestinationLostText(), -1) + "\n\n";
    if (result.cancelled) {
        const size_t done = result.written + result.upToDate + result.skipped.size() + result.kept.size();
        text += fill(QT_TRANSLATE_N_NOOP("RunReport", "Cancelled after %1 of %n file(s)"), fileCount, std::to_string(done)) +
                "\n";
    }
    text += fill(QT_TRANSLATE_N_NOOP("RunReport", "%n thumbnail(s) written"), result.written);
    if (result.incomplete > 0)
        text += fill(QT_TRANSLATE_N_NOOP("RunReport", ", %n from incomplete sources"), result.incomplete);
    if (result.upToDate > 0)
        text += fill(QT_TRANSLATE_N_NOOP("RunReport", ", %n up to date"), result.upToDate);
    if (!result.kept.empty())
        text += fill(QT_TRANSLATE_N_NOOP("RunReport", ", %n kept (a file Quillet did not make was in the way)"),
                     long(result.kept.size()));
    if (!result.skipped.empty())
        text += fill(QT_TRANSLATE_N_NOOP("RunReport", ", %n skipped"), long(result.skipped.size()));
    return text + "\n" + fill(QT_TRANSLATE_NOOP("RunReport", "Time taken: %1"), -1, DurationText(seconds, decimalPoint));
}

}  // namespace quillet
