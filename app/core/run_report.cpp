// What the desktop program tells about a run.
#include "core/run_report.h"

namespace quillet {
namespace {

std::string Count(size_t n, const char* singular, const char* plural)
{
    return std::to_string(n) + " " + (n == 1 ? singular : plural);
}

}  // namespace

std::string FileLineText(uint32_t position, uint32_t count, const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return std::to_string(uint64_t{position} + 1) + " of " + std::to_string(count) + ": " + name;
}

bool RunNeedsSummary(const BatchResult& result)
{
    return result.refusal == Refusal::None &&
           (!result.skipped.empty() || !result.kept.empty() || result.incomplete > 0 || result.destinationLost);
}

std::string RunSummaryText(const BatchResult& result)
{
    std::string text = Count(result.written, "thumbnail written", "thumbnails written");
    if (result.incomplete > 0)
        text += ", " + std::to_string(result.incomplete) + " from incomplete sources";
    if (result.upToDate > 0)
        text += ", " + std::to_string(result.upToDate) + " up to date";
    if (!result.kept.empty())
        text += ", " + std::to_string(result.kept.size()) + " kept (a file Quillet did not make was in the way)";
    text += ", " + Count(result.skipped.size(), "file skipped", "files skipped");
    if (result.destinationLost)
        text = std::string(DestinationLostText()) + "\n\n" + text;
    return text;
}

std::string RunDetailsText(const BatchResult& result, const std::string& sourceFolder,
                           const std::vector<std::string>& incompleteSources)
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
    for (const std::string& path : incompleteSources)
        details += name(path) + ": its data ended early; the thumbnail is partly filled in\n";
    if (!details.empty())
        details.pop_back();
    return details;
}

}  // namespace quillet
