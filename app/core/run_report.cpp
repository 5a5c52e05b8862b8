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
    return result.refusal == Refusal::None && !result.skipped.empty();
}

std::string RunSummaryText(const BatchResult& result)
{
    return Count(result.written, "thumbnail written", "thumbnails written") + ", " +
           Count(result.skipped.size(), "file skipped", "files skipped");
}

std::string RunDetailsText(const BatchResult& result, const std::string& sourceFolder)
{
    std::string base = sourceFolder;
    if (!base.empty() && base.back() != '/')
        base += '/';
    std::string details;
    for (const SkippedFile& file : result.skipped) {
        const bool inside = !base.empty() && file.path.rfind(base, 0) == 0;
        details += (inside ? file.path.substr(base.size()) : file.path) + ": " + file.reason + "\n";
    }
    if (!details.empty())
        details.pop_back();
    return details;
}

}  // namespace quillet
