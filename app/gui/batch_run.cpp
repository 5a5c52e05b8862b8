// A batch run beside the window.
#include "gui/batch_run.h"

#include <QMetaObject>

#include <utility>

namespace {

std::mutex g_hookLock;
std::function<void(const std::string&)> g_fileStartHook;

}  // namespace

// The run's side: called on the run's threads, it only writes the snapshot and the flags.
class CBatchRun::Reporter : public quillet::BatchProgress {
public:
    explicit Reporter(CBatchRun& run) : m_run(run) {}

    void SetRange(uint32_t lower, uint32_t upper) override
    {
        m_run.Update([&](Snapshot& s) {
            s.lower = lower;
            s.upper = upper;
        });
    }
    void SetPos(uint32_t position) override
    {
        m_run.Update([&](Snapshot& s) { s.position = position; });
    }
    // The newest thumbnail replaces one the window has not shown yet: previews are skipped,
    // never queued, when the run outpaces the screen.
    void ShowPreview(const std::string& path) override
    {
        m_run.Update([&](Snapshot& s) { s.preview = path; });
    }
    bool CheckCancelButton() override { return m_run.m_stop; }
    bool StopRequested() const override { return m_run.m_stop; }
    void IncompleteSource(const std::string& path) override { m_run.m_incompleteSources.push_back(path); }
    void FileStarted(const std::string& path) override
    {
        m_run.Update([&](Snapshot& s) { s.current = path; });
        std::function<void(const std::string&)> hook;
        {
            std::lock_guard guard(g_hookLock);
            hook = g_fileStartHook;
        }
        if (hook)
            hook(path);
    }

private:
    CBatchRun& m_run;
};

CBatchRun::CBatchRun(const quillet::BatchSettings& settings, const std::vector<std::string>& files, unsigned jobs,
                     QObject* parent)
    : QObject(parent), m_settings(settings), m_files(files), m_jobs(jobs)
{
}

CBatchRun::~CBatchRun()
{
    RequestStop();
    Wait();
}

void CBatchRun::Start()
{
    m_thread = std::thread([this] {
        Reporter reporter(*this);
        m_result = quillet::RunBatch(m_settings, m_files, reporter, m_jobs);
        m_finished = true;
        QMetaObject::invokeMethod(this, [this] {
            Wait();
            emit finished();
        }, Qt::QueuedConnection);
    });
}

void CBatchRun::Wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

CBatchRun::Snapshot CBatchRun::Take()
{
    std::lock_guard guard(m_lock);
    Snapshot taken = m_snapshot;
    m_snapshot.preview.clear();
    return taken;
}

void CBatchRun::Update(const std::function<void(Snapshot&)>& change)
{
    {
        std::lock_guard guard(m_lock);
        change(m_snapshot);
    }
    // One notice in the queue at a time; the window reads everything new when it comes.
    if (!m_notifyPending.exchange(true)) {
        QMetaObject::invokeMethod(this, [this] {
            m_notifyPending = false;
            emit changed();
        }, Qt::QueuedConnection);
    }
}

void CBatchRun::SetFileStartHook(std::function<void(const std::string&)> hook)
{
    std::lock_guard guard(g_hookLock);
    g_fileStartHook = std::move(hook);
}
