// The runners: the files of a run one after another, or in parallel jobs.
#include "core/batch_internal.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

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

    Outcome Make(size_t index) const
    {
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
        } else if (outcome.reason.empty()) {
            ++result.written;
            if (outcome.incomplete) {
                ++result.incomplete;
                record.status = FileStatus::Incomplete;
                progress.IncompleteSource(files[done.index]);
            }
            progress.ShowPreview(outputs[done.index]);
        } else {
            record.status = FileStatus::Skipped;
            progress.FileSkipped(files[done.index], outcome.reason);
            skipped.push_back(std::move(done));
        }
        progress.FileDone(record);
    }

    // Skipped files in list order, however the jobs finished.
    BatchResult Finish()
    {
        std::sort(skipped.begin(), skipped.end(), [](const Done& a, const Done& b) { return a.index < b.index; });
        for (Done& done : skipped)
            result.skipped.push_back({files[done.index], std::move(done.outcome.reason)});
        return std::move(result);
    }
};

BatchResult RunInOrder(Run& run)
{
    for (size_t i = 0; i < run.files.size(); ++i) {
        run.progress.SetPos(static_cast<uint32_t>(i));
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

BatchResult RunInParallel(Run& run, unsigned jobs)
{
    // Files sharing an output name form one group, made in list order by one worker.
    std::map<std::string, size_t> groupOf;
    std::vector<std::vector<size_t>> groups;
    for (size_t i = 0; i < run.files.size(); ++i) {
        auto [it, added] = groupOf.try_emplace(run.outputs[i], groups.size());
        if (added)
            groups.emplace_back();
        groups[it->second].push_back(i);
    }
    // The largest files first, so that the run does not end with one worker busy on a large
    // photograph while the others idle; the bytes of a file stand in for its work.
    std::vector<std::pair<uint64_t, size_t>> bySize(groups.size());
    for (size_t g = 0; g < groups.size(); ++g) {
        uint64_t bytes = 0;
        for (size_t index : groups[g]) {
            struct stat info {};
            if (stat(run.files[index].c_str(), &info) == 0 && S_ISREG(info.st_mode))
                bytes += static_cast<uint64_t>(info.st_size);
        }
        bySize[g] = {bytes, g};
    }
    std::stable_sort(bySize.begin(), bySize.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<std::vector<size_t>> ordered;
    ordered.reserve(groups.size());
    for (const auto& entry : bySize)
        ordered.push_back(std::move(groups[entry.second]));
    groups = std::move(ordered);

    std::mutex lock;
    std::condition_variable changed;
    std::deque<Done> finished;
    std::atomic<size_t> nextGroup{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> lost{false};
    unsigned running = jobs;

    auto worker = [&] {
        for (size_t g; !stop && (g = nextGroup++) < groups.size();) {
            for (size_t index : groups[g]) {
                if (stop)
                    break;
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
    return run.Finish();
}

}  // namespace

BatchResult RunBatch(const BatchSettings& settings, const std::vector<std::string>& files, BatchProgress& progress,
                     unsigned jobs)
{
    if (const Refusal refusal = CheckRun(settings, files); refusal != Refusal::None) {
        BatchResult refused;
        refused.refusal = refusal;
        return refused;
    }
    RemoveStaleTemporaries(settings.PathOut);
    progress.SetRange(0, static_cast<uint32_t>(files.size()));
    Run run{settings, files, {}, progress, GuardsFor(settings, files), {}, {}};
    run.outputs = OutputPathsFor(settings, files);
    if (jobs <= 1 || files.size() < 2)
        return RunInOrder(run);
    return RunInParallel(run, static_cast<unsigned>(std::min<size_t>(jobs, files.size())));
}

}  // namespace quillet
