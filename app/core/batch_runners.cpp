// The runners: the files of a run one after another, or in parallel jobs.
#include "core/batch_internal.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

namespace quillet {
namespace {

struct Done {
    size_t index;
    Outcome outcome;
};

// The files of one run with where their thumbnails go, and what came of them so far.
struct Run {
    const BatchSettings& settings;
    const std::vector<std::string>& files;
    std::vector<std::string> outputs;
    BatchProgress& progress;
    RunGuards guards;
    BatchResult result;
    std::vector<Done> skipped;
    std::vector<Done> kept;

    Outcome Make(size_t index) const
    {
        progress.FileStarted(files[index]);
        const auto start = std::chrono::steady_clock::now();
        Outcome outcome = MakeThumbnail(settings, guards, files[index], outputs[index]);
        outcome.milliseconds =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        return outcome;
    }

    // Counts one finished file and tells the progress about it.
    void Report(Done done)
    {
        const Outcome& outcome = done.outcome;
        FileRecord record{files[done.index], outputs[done.index], FileStatus::Written, outcome.reason,
                          outcome.code, outcome.bytes, outcome.milliseconds};
        if (outcome.upToDate) {
            ++result.upToDate;
            record.status = FileStatus::UpToDate;
        } else if (outcome.reason.empty() && settings.DryRun) {
            ++result.written;
            record.status = FileStatus::WouldBeWritten;
        } else if (outcome.reason.empty()) {
            ++result.written;
            if (outcome.incomplete) {
                ++result.incomplete;
                record.status = FileStatus::Incomplete;
                progress.IncompleteSource(files[done.index]);
            }
            progress.ShowPreview(outputs[done.index]);
        } else {
            record.status = outcome.kept ? FileStatus::Kept : FileStatus::Skipped;
            progress.FileSkipped(files[done.index], outcome.reason);
            (outcome.kept ? kept : skipped).push_back(std::move(done));
        }
        progress.FileDone(record);
    }

    // Skipped and kept files in the run's order, however the jobs finished.
    BatchResult Finish()
    {
        for (auto [from, to] : {std::pair{&skipped, &result.skipped}, std::pair{&kept, &result.kept}}) {
            std::sort(from->begin(), from->end(), [](const Done& a, const Done& b) { return a.index < b.index; });
            for (Done& done : *from)
                to->push_back({files[done.index], std::move(done.outcome.reason)});
        }
        return std::move(result);
    }
};

BatchResult RunInOrder(Run& run)
{
    for (size_t i = 0; i < run.files.size(); ++i) {
        run.progress.SetPos(static_cast<uint32_t>(i));
        if (run.progress.StopRequested()) {
            run.result.cancelled = true;
            break;
        }
        // Decoding more files is pointless once no thumbnail can be written.
        if (!DestinationUsable(run.settings.PathOut)) {
            run.result.destinationLost = true;
            break;
        }
        run.Report({i, run.Make(i)});
        if (run.progress.CheckCancelButton()) {
            run.result.cancelled = true;
            break;
        }
    }
    return run.Finish();
}

// The order parallel jobs take files in: largest first, so that the run does not end with one
// job on a large picture while the others wait; equal sizes keep the run's order. Reports and
// the lists of skipped and kept files still follow the run's order.
std::vector<size_t> LargestFirst(const std::vector<std::string>& files)
{
    std::vector<std::pair<uintmax_t, size_t>> sized(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        std::error_code error;
        const uintmax_t size = std::filesystem::file_size(files[i], error);
        sized[i] = {error ? 0 : size, i};
    }
    std::stable_sort(sized.begin(), sized.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<size_t> order(files.size());
    for (size_t i = 0; i < files.size(); ++i)
        order[i] = sized[i].second;
    return order;
}

BatchResult RunInParallel(Run& run, unsigned jobs)
{
    // Names are decided before the run, so no two files share an output: each worker takes the
    // next file of the largest-first order.
    const std::vector<size_t> order = LargestFirst(run.files);
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Done> finished;
    std::atomic<size_t> nextFile{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> lost{false};
    std::atomic<bool> stopRequested{false};
    unsigned running = jobs;

    auto worker = [&] {
        for (size_t next; !stop && (next = nextFile++) < order.size();) {
            const size_t index = order[next];
            // Asked between two files: the ones in flight elsewhere still finish.
            if (run.progress.StopRequested()) {
                stopRequested = true;
                stop = true;
                break;
            }
            if (!DestinationUsable(run.settings.PathOut)) {
                lost = true;
                stop = true;
                break;
            }
            Done done{index, run.Make(index)};
            std::lock_guard guard(lock);
            finished.push_back(std::move(done));
            changed.notify_one();
        }
        std::lock_guard guard(lock);
        --running;
        changed.notify_one();
    };
    std::vector<std::thread> threads;
    for (unsigned j = 0; j < jobs; ++j)
        threads.emplace_back(worker);

    // Progress is reported from this thread only, as files finish.
    uint32_t reported = 0;
    run.progress.SetPos(0);
    for (;;) {
        std::unique_lock guard(lock);
        changed.wait(guard, [&] { return !finished.empty() || running == 0; });
        if (finished.empty())
            break;
        Done done = std::move(finished.front());
        finished.pop_front();
        guard.unlock();

        run.Report(std::move(done));
        run.progress.SetPos(++reported);
        if (!stop && run.progress.CheckCancelButton()) {
            run.result.cancelled = true;
            stop = true;
        }
    }
    for (std::thread& t : threads)
        t.join();
    run.result.destinationLost = lost;
    run.result.cancelled = run.result.cancelled || stopRequested;
    return run.Finish();
}

}  // namespace

BatchResult RunBatch(const BatchSettings& settings, const std::vector<std::string>& files, BatchProgress& progress,
                     unsigned jobs, const std::optional<Shard>& shard)
{
    if (const Refusal refusal = CheckRun(settings, files); refusal != Refusal::None) {
        BatchResult refused;
        refused.refusal = refusal;
        return refused;
    }
    // Names come from the whole list in the run's order, so every shard and every rerun agree.
    std::vector<std::string> sorted = files;
    SortForRun(settings, sorted);
    std::vector<std::string> outputs = OutputPathsFor(settings, sorted);
    if (shard) {
        size_t kept = 0;
        for (size_t i = 0; i < sorted.size(); ++i) {
            if (ShardOf(sorted[i], shard->count) != shard->index)
                continue;
            if (kept != i) {
                sorted[kept] = std::move(sorted[i]);
                outputs[kept] = std::move(outputs[i]);
            }
            ++kept;
        }
        sorted.resize(kept);
        outputs.resize(kept);
        if (sorted.empty())
            return {};
    }
    std::set<std::string> folders{settings.PathOut};
    for (const std::string& output : outputs)
        folders.insert(output.substr(0, output.find_last_of(kFolderSeparator) + 1));
    // A dry run leaves even the debris of earlier runs where it is.
    for (const std::string& folder : folders)
        if (!settings.DryRun)
            RemoveStaleTemporaries(folder);
    progress.SetRange(0, static_cast<uint32_t>(sorted.size()));
    Run run{settings, sorted, std::move(outputs), progress, GuardsFor(settings, sorted), {}, {}, {}};
    if (jobs <= 1 || sorted.size() < 2)
        return RunInOrder(run);
    return RunInParallel(run, static_cast<unsigned>(std::min<size_t>(jobs, sorted.size())));
}

}  // namespace quillet
