#include "Common/StaleFiles.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "Common/CodePage.h"

namespace VORTALEX {
namespace {

bool ProcessRuns(long pid)
{
    if (pid <= 0) return false;
    if (pid == static_cast<long>(::getpid())) return true;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

std::wstring SystemError(const char* step, int error)
{
    return codepage::DecodeText(std::string(step) + ": " + std::strerror(error));
}

// Flushes a folder's entries (the rename) to the disk.
bool SyncFolder(const std::filesystem::path& folder)
{
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;   // some file systems cannot
    ::close(fd);
    return synced;
}

}  // namespace

int RemoveStaleTemporaries(const std::filesystem::path& folder, std::string_view base, std::string_view marker)
{
    namespace fs = std::filesystem;
    std::string prefix(base);
    prefix += marker;
    int removed = 0;
    std::error_code error;
    for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().native();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string digits = name.substr(prefix.size());
        if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
        if (ProcessRuns(std::stol(digits))) continue;
        std::error_code ignored;
        if (!it->is_regular_file(ignored) || it->is_symlink(ignored)) continue;
        if (fs::remove(it->path(), ignored)) ++removed;
    }
    return removed;
}

bool WriteFileDurably(const std::filesystem::path& target, const std::filesystem::path& temporary,
                      std::string_view bytes, std::wstring& reason)
{
    // O_EXCL and O_NOFOLLOW: a file or link already lying at the temporary
    // name is never written through.
    ::unlink(temporary.c_str());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        reason = SystemError("open", errno);
        return false;
    }
    auto fail = [&](const char* step) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        reason = SystemError(step, error);
        return false;
    };
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return fail("write");
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) return fail("fsync");
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        reason = SystemError("close", error);
        return false;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        reason = SystemError("rename", error);
        return false;
    }
    if (!SyncFolder(target.parent_path())) {
        // The new contents are in place; only their survival of a power
        // loss is in doubt.
        reason = SystemError("fsync folder", errno);
    }
    return true;
}

}  // namespace VORTALEX
