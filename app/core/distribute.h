// Spreading one run over many processes: lists of files given from outside, and shards.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillet {

// The paths of a list file, one a line (or NUL-separated), relative to `source` unless
// absolute. Empty entries are ignored; a line may end in CR. nullopt when the list cannot be
// read, with the reason in `error`.
std::optional<std::vector<std::string>> ReadFileList(const std::string& listPath, bool nulSeparated,
                                                     const std::string& source, std::string& error);

// Process `index` of `count`, counting from 0.
struct Shard {
    uint32_t index = 0;
    uint32_t count = 1;
};

// Reads "K/N", "auto" or "auto/N". "auto" takes the index from JOB_COMPLETION_INDEX (a
// Kubernetes Indexed Job; the count must then be given) or SLURM_ARRAY_TASK_ID, less
// SLURM_ARRAY_TASK_MIN, with SLURM_ARRAY_TASK_COUNT, which must equal N when "auto/N" gives
// one. nullopt with the reason in `error`.
using Environment = std::function<const char*(const char* name)>;
std::optional<Shard> ParseShard(const std::string& text, const Environment& environment, std::string& error);

// The shard a source belongs to: the 64-bit FNV-1a hash of the bytes of its name's stem (up to
// the first dot not at the start; folders play no part) modulo count, so that files whose
// thumbnails could clash ("a.jpg" and "a.JPG" in WebP, "a.png" and "a.tif") are always made
// by one process, in list order. Other machines and later releases rely on this rule.
uint32_t ShardOf(const std::string& sourcePath, uint32_t count);

// The files of `shard`, in list order.
std::vector<std::string> SelectShard(const std::vector<std::string>& files, Shard shard);

}  // namespace quillet
