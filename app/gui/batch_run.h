// A batch run beside the window: the files are made on threads of the run's own, and the
// window thread only reads what the run reports. No widget is touched off the window thread.
#pragma once

#include "core/batch.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CBatchRun : public QObject {
    Q_OBJECT

public:
    // What the window shows, as the run last reported it.
    struct Snapshot {
        uint32_t lower = 0;
        uint32_t upper = 0;
        uint32_t position = 0;
        std::string current;  // the file begun last
        std::string preview;  // the thumbnail written last, when it is new since the last look
    };

    CBatchRun(const quillet::BatchSettings& settings, const std::vector<std::string>& files, unsigned jobs,
              QObject* parent = nullptr);
    // A run still going is asked to stop and waited for: no file is left half-made.
    ~CBatchRun() override;

    void Start();
    // From any thread: no file is begun after this; those in flight are finished.
    void RequestStop() { m_stop = true; }
    bool Finished() const { return m_finished; }
    // Blocks until the run has ended.
    void Wait();

    // What the run reports now; a preview is handed out once.
    Snapshot Take();

    // After finished(): how the run ended, and the sources whose data ended early.
    const quillet::BatchResult& Result() const { return m_result; }
    const std::vector<std::string>& IncompleteSources() const { return m_incompleteSources; }

    // Tests: called on the worker thread as each file is begun, so that one can be made slow.
    static void SetFileStartHook(std::function<void(const std::string&)> hook);

signals:
    // Something changed since the last Take; at most one of these waits in the queue.
    void changed();
    void finished();

private:
    class Reporter;
    void Update(const std::function<void(Snapshot&)>& change);

    quillet::BatchSettings m_settings;
    std::vector<std::string> m_files;
    unsigned m_jobs;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_notifyPending{false};
    std::mutex m_lock;  // guards m_snapshot
    Snapshot m_snapshot;
    quillet::BatchResult m_result;
    std::vector<std::string> m_incompleteSources;
};
