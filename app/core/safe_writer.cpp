// The safe writer: a thumbnail reaches its name only when complete, and a killed run's
// temporaries are removed by the next one.
#include "core/batch_internal.h"

#include <fcntl.h>
#include <sys/file.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

namespace quillet {
namespace {

constexpr char kTemporaryPrefix[] = ".quillet-";
constexpr size_t kTemporaryNameLength = sizeof kTemporaryPrefix - 1 + 6;  // mkstemp's XXXXXX

// Slots a signal handler can read: the temporaries this process is writing right now.
struct LiveTemporary {
    std::atomic<int> state{0};  // 0 free, 1 being filled, 2 holds a path
    char path[4096];
};
LiveTemporary g_liveTemporaries[64];

int RegisterLive(const std::string& path)
{
    if (path.size() >= sizeof g_liveTemporaries[0].path)
        return -1;
    for (int i = 0; i < static_cast<int>(std::size(g_liveTemporaries)); ++i) {
        int expected = 0;
        if (g_liveTemporaries[i].state.compare_exchange_strong(expected, 1)) {
            std::memcpy(g_liveTemporaries[i].path, path.c_str(), path.size() + 1);
            g_liveTemporaries[i].state = 2;
            return i;
        }
    }
    return -1;  // more jobs than slots: a later run removes what a kill leaves
}

}  // namespace

TemporaryOutput::TemporaryOutput(const std::string& outputPath)
{
    const fs::path folder = fs::path(outputPath).parent_path();
    for (int attempt = 0; attempt < 3 && m_path.empty(); ++attempt) {
        std::string pattern = (folder / kTemporaryPrefix).string() + "XXXXXX";
        const int fd = mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0) {
            m_error = std::strerror(errno);
            return;
        }
        // A starting run may have taken the fresh file for stale before it was locked.
        struct stat mine {}, named {};
        if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &mine) == 0 &&
            stat(pattern.c_str(), &named) == 0 && IdOf(mine) == IdOf(named)) {
            m_fd = fd;
            m_path = pattern;
            m_slot = RegisterLive(m_path);
        } else {
            close(fd);
            m_error = "the temporary file was taken away";
        }
    }
}

TemporaryOutput::~TemporaryOutput()
{
    if (!m_path.empty())
        unlink(m_path.c_str());
    Unregister();
    if (m_fd >= 0)
        close(m_fd);
}

std::string TemporaryOutput::CommitTo(const std::string& outputPath, mode_t newFileMode)
{
    struct stat old {};
    const mode_t mode = lstat(outputPath.c_str(), &old) == 0 && S_ISREG(old.st_mode) ? old.st_mode & 07777
                                                                                    : newFileMode;
    if (fchmod(m_fd, mode) != 0)
        return std::strerror(errno);
    if (std::rename(m_path.c_str(), outputPath.c_str()) != 0)
        return std::strerror(errno);
    m_path.clear();
    Unregister();
    return {};
}

void TemporaryOutput::Unregister()
{
    if (m_slot >= 0)
        g_liveTemporaries[m_slot].state = 0;
    m_slot = -1;
}

// Temporaries of our own pattern that no live run holds locked: left by a killed run.
void RemoveStaleTemporaries(const std::string& folder)
{
    const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return;
    const std::unique_ptr<DIR, DirCloser> dir = ListFolder(folderFd);
    if (!dir)
        return;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.size() != kTemporaryNameLength || name.rfind(kTemporaryPrefix, 0) != 0)
            continue;
        const int fd = openat(dirfd(dir.get()), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        FdCloser closer{fd};
        struct stat info {};
        if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0)
            unlinkat(dirfd(dir.get()), name.c_str(), 0);
    }
}

void RemoveLiveTemporaries() noexcept
{
    for (LiveTemporary& slot : g_liveTemporaries) {
        if (slot.state.load() == 2)
            unlink(slot.path);
    }
}

}  // namespace quillet
