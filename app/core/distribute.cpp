// File lists and shards.
#include "core/distribute.h"

#include "core/settings.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace quillet {
namespace {

std::optional<uint32_t> ParseCount(const std::string& text)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return static_cast<uint32_t>(std::stoul(text));
}

}  // namespace

std::optional<std::vector<std::string>> ReadFileList(const std::string& listPath, bool nulSeparated,
                                                     const std::string& source, std::string& error)
{
    std::ifstream list(listPath, std::ios::binary);
    if (!list) {
        error = listPath + ": " + std::strerror(errno);
        return std::nullopt;
    }
    const std::string text((std::istreambuf_iterator<char>(list)), std::istreambuf_iterator<char>());
    if (list.bad()) {
        error = listPath + ": cannot be read";
        return std::nullopt;
    }
    const char separator = nulSeparated ? '\0' : '\n';
    std::vector<std::string> files;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos)
            end = text.size();
        std::string entry = text.substr(start, end - start);
        start = end + 1;
        if (!nulSeparated && !entry.empty() && entry.back() == '\r')
            entry.pop_back();
        if (entry.empty())
            continue;
        files.push_back(entry.front() == kFolderSeparator ? entry : WithSeparator(source) + entry);
    }
    return files;
}

std::optional<Shard> ParseShard(const std::string& text, const Environment& environment, std::string& error)
{
    const size_t slash = text.find('/');
    const std::string first = text.substr(0, slash);
    std::optional<uint32_t> count;
    if (slash != std::string::npos) {
        count = ParseCount(text.substr(slash + 1));
        if (!count || *count == 0) {
            error = "the shard count must be a whole number of at least 1";
            return std::nullopt;
        }
    }
    std::optional<uint32_t> index = ParseCount(first);
    if (first == "auto") {
        const char* job = environment("JOB_COMPLETION_INDEX");
        const char* task = environment("SLURM_ARRAY_TASK_ID");
        if (job && *job) {
            if (!count) {
                error = "with JOB_COMPLETION_INDEX, give the count as --shard auto/N";
                return std::nullopt;
            }
            index = ParseCount(job);
        } else if (task && *task) {
            // Array ids need not start at 0 (--array=1-4).
            const char* minimum = environment("SLURM_ARRAY_TASK_MIN");
            const auto id = ParseCount(task);
            const auto low = minimum && *minimum ? ParseCount(minimum) : std::optional<uint32_t>{0};
            index = id && low && *id >= *low ? std::optional<uint32_t>{*id - *low} : std::nullopt;
            const char* total = environment("SLURM_ARRAY_TASK_COUNT");
            const auto tasks = total ? ParseCount(total) : std::nullopt;
            if (!tasks || *tasks == 0) {
                error = "SLURM_ARRAY_TASK_COUNT is not set to a count";
                return std::nullopt;
            }
            // The index is counted within this array: an array of other than N tasks
            // (some tasks resubmitted, or an array left at its old size) would make the
            // wrong shards, or leave some out.
            if (count && *count != *tasks) {
                error = "the Slurm array has " + std::to_string(*tasks) + " tasks but the shard count is " +
                        std::to_string(*count) + "; to redo some tasks of an array, name each task's shard: "
                        "--shard \"$SLURM_ARRAY_TASK_ID/" + std::to_string(*count) + "\"";
                return std::nullopt;
            }
            count = tasks;
        } else {
            error = "--shard auto needs JOB_COMPLETION_INDEX or SLURM_ARRAY_TASK_ID";
            return std::nullopt;
        }
        if (!index) {
            error = "the job engine's shard index is not a whole number";
            return std::nullopt;
        }
    } else if (!index || !count) {
        error = "--shard takes K/N (K from 0 to N-1), auto or auto/N";
        return std::nullopt;
    }
    const uint32_t k = index.value_or(0), n = count.value_or(1);
    if (k >= n) {
        error = "shard " + std::to_string(k) + " does not exist among " + std::to_string(n) + " (they count from 0)";
        return std::nullopt;
    }
    return Shard{k, n};
}

uint32_t ShardOf(const std::string& sourcePath, uint32_t count)
{
    const size_t slash = sourcePath.find_last_of(kFolderSeparator);
    std::string name = slash == std::string::npos ? sourcePath : sourcePath.substr(slash + 1);
    // Only the part before the first dot (a leading one aside): every name a thumbnail can get,
    // "a.webp" or "a.tif.jpg" alike, keeps it, so sources that might clash share a shard.
    name = name.substr(0, name.find('.', 1));
    // FNV-1a: fixed for every machine and every build, unlike std::hash.
    uint64_t hash = 14695981039346656037ull;
    for (const char c : name) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return count == 0 ? 0 : static_cast<uint32_t>(hash % count);
}

std::vector<std::string> SelectShard(const std::vector<std::string>& files, Shard shard)
{
    std::vector<std::string> mine;
    for (const std::string& file : files)
        if (ShardOf(file, shard.count) == shard.index)
            mine.push_back(file);
    return mine;
}

}  // namespace quillet
