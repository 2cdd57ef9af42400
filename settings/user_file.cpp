#include "settings/user_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace dahlo {
namespace {

constexpr int kMaxLinkHops = 40;  // as the kernel allows when it follows links itself

// The file a write to `path` lands in: symbolic links followed, also to a target that does not
// exist yet. Empty for a link loop.
std::string FollowLinks(const std::string& path) {
    namespace fs = std::filesystem;
    fs::path at = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(at, ec))) return at.string();
        const fs::path next = fs::read_symlink(at, ec);
        if (ec) return {};
        at = next.is_absolute() ? next : at.parent_path() / next;
    }
    return {};
}

bool WriteAll(int fd, std::string_view data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Creates a file of an unused name beside `target`; -1 with errno set on failure.
int CreateSibling(const std::string& target, mode_t mode, std::string& name) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[40];
        std::snprintf(suffix, sizeof suffix, ".%ld.%u~", static_cast<long>(::getpid()),
                      counter.fetch_add(1));
        name = target + suffix;
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

enum class Replace { kDone, kFailed, kNotPossible };

// Writes a file beside `target` and renames it over `target`. `old` describes the file being
// replaced (nullptr for a new one): its owner and mode carry over, or the answer is
// kNotPossible and nothing has changed.
Replace ReplaceAtomically(const std::string& target, std::string_view data,
                          const struct stat* old) {
    std::string temp;
    // A new file is created 0666 so that the umask (and a default ACL) decide, as for any file.
    const int fd = CreateSibling(target, old != nullptr ? 0600 : 0666, temp);
    if (fd < 0) return old != nullptr ? Replace::kNotPossible : Replace::kFailed;
    bool ok = true;
    if (old != nullptr) {
        struct stat made {};
        ok = ::fstat(fd, &made) == 0;
        if (ok && (made.st_uid != old->st_uid || made.st_gid != old->st_gid) &&
            ::fchown(fd, old->st_uid, old->st_gid) != 0) {
            ::close(fd);
            ::unlink(temp.c_str());
            return Replace::kNotPossible;
        }
        ok = ok && ::fchmod(fd, old->st_mode & 07777) == 0;  // after fchown, which clears set-id
    }
    ok = ok && WriteAll(fd, data) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok ? Replace::kDone : Replace::kFailed;
}

// Rewrites an open file's content. Space is reserved first so that a full disk fails before
// anything is overwritten, where the file system can tell.
bool WriteInPlace(int fd, std::string_view data) {
    if (!data.empty() &&
        ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(data.size())) != 0 &&
        (errno == ENOSPC || errno == EDQUOT)) {
        return false;
    }
    return ::lseek(fd, 0, SEEK_SET) == 0 && WriteAll(fd, data) &&
           ::ftruncate(fd, static_cast<off_t>(data.size())) == 0 && ::fsync(fd) == 0;
}

bool WriteTo(const std::string& target, std::string_view data) {
    if (target.empty()) return false;
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) {
        return errno == ENOENT && ReplaceAtomically(target, data, nullptr) == Replace::kDone;
    }
    if (!S_ISREG(st.st_mode)) return false;  // never replace a device, FIFO or directory
    // Opening for writing lets the system decide whether this user may write the file; a
    // rename would ask only the directory.
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok) {
        // A replace would leave the other names of a hard-linked file with the old content.
        const Replace replaced =
            st.st_nlink > 1 ? Replace::kNotPossible : ReplaceAtomically(target, data, &st);
        ok = replaced == Replace::kDone ||
             (replaced == Replace::kNotPossible && WriteInPlace(fd, data));
    }
    ok = (::close(fd) == 0) && ok;
    return ok;
}

}  // namespace

FileReadStatus ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& data) {
    data.clear();
    struct stat st {};
    // Looked at before opening: opening a device can have effects of its own.
    if (::stat(path.c_str(), &st) != 0) {
        return errno == ENOENT ? FileReadStatus::kMissing : FileReadStatus::kFailed;
    }
    if (!S_ISREG(st.st_mode)) return FileReadStatus::kFailed;
    // Without O_NONBLOCK a FIFO put in the file's place meanwhile would block the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? FileReadStatus::kMissing : FileReadStatus::kFailed;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    // The size is only a hint: files under /proc say 0, and a file may grow while read.
    if (ok && st.st_size > 0)
        data.reserve(std::min(static_cast<std::size_t>(st.st_size), maxBytes));
    char buffer[65536];
    while (ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        const std::size_t room = maxBytes - data.size();
        data.append(buffer, std::min(static_cast<std::size_t>(n), room));
        ok = static_cast<std::size_t>(n) <= room;
    }
    ::close(fd);
    return ok ? FileReadStatus::kOk : FileReadStatus::kFailed;
}

std::string UnableToWriteMessage(std::string_view path) {
    return "Unable to write to " + std::string(path);
}

bool WriteUserFile(const std::string& path, std::string_view data, std::string& error) {
    if (WriteTo(FollowLinks(path), data)) return true;
    error = UnableToWriteMessage(path);
    return false;
}

}  // namespace dahlo
