#include "platform/settings/file_lock.h"

#include <algorithm>
#include <chrono>
#include <thread>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

// Pauses between tries at a held lock: from 1 ms, doubling, at most 20 ms.
class Backoff {
public:
    explicit Backoff(int waitMs) : deadline_(Clock::now() + std::chrono::milliseconds(waitMs)) {}
    bool expired() const { return Clock::now() >= deadline_; }
    void pause() {
        std::this_thread::sleep_for(pause_);
        pause_ = std::min(pause_ * 2, std::chrono::microseconds(20000));
    }

private:
    Clock::time_point deadline_;
    std::chrono::microseconds pause_{1000};
};

}  // namespace

#ifdef _WIN32

namespace {

FileIdentity identityOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO times{};
    if (!GetFileInformationByHandle(file, &info) ||
        !GetFileInformationByHandleEx(file, FileBasicInfo, &times, sizeof times))
        return {};
    // Times in 100 ns steps since 1601; only differences matter here.
    return {true,
            info.dwVolumeSerialNumber,
            (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
            std::int64_t((std::uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow),
            times.LastWriteTime.QuadPart * 100,
            times.ChangeTime.QuadPart * 100};
}

HANDLE openShared(const std::filesystem::path& path, DWORD access, DWORD disposition, DWORD flags) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       disposition, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

std::string lastError(const char* what) { return std::string(what) + " error " + std::to_string(GetLastError()); }

}  // namespace

FileIdentity identifyFile(const std::filesystem::path& path) {
    // Opened for nothing but its attributes; a folder needs the backup flag to be opened.
    const HANDLE file = openShared(path, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (file == INVALID_HANDLE_VALUE) return {};
    const FileIdentity identity = identityOf(file);
    CloseHandle(file);
    return identity;
}

FileIdentity identifyOpenFile(int fd) {
    const intptr_t file = _get_osfhandle(fd);
    return file == -1 ? FileIdentity{} : identityOf(reinterpret_cast<HANDLE>(file));
}

FileLock::FileLock(const std::filesystem::path& lockFile, int waitMs) {
    Backoff backoff(waitMs);
    const DWORD attributes = GetFileAttributesW(lockFile.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        failure_ = "is not a regular file";
        return;
    }
    for (;;) {
        // The reparse-point flag opens a link itself, never what it leads to.
        HANDLE file = openShared(lockFile, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT);
        // A folder that may not be written to can still hold a lock file from before.
        if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
            file = openShared(lockFile, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
        if (file == INVALID_HANDLE_VALUE) {
            failure_ = lastError("open:");
            return;
        }
        BY_HANDLE_FILE_INFORMATION info{};
        if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
            (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
            CloseHandle(file);
            failure_ = "is not a regular file";
            return;
        }
        for (;;) {
            OVERLAPPED whole{};
            if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole))
                break;
            const DWORD error = GetLastError();
            if (error != ERROR_LOCK_VIOLATION || backoff.expired()) {
                CloseHandle(file);
                failure_ = error == ERROR_LOCK_VIOLATION ? "still held by another program" : lastError("LockFileEx:");
                return;
            }
            backoff.pause();
        }
        // Locked: still the file under that name? (It may have been removed or replaced
        // meanwhile; the next holder would lock the one there now.)
        const FileIdentity named = identifyFile(lockFile), locked = identityOf(file);
        if (locked.exists && named.device == locked.device && named.inode == locked.inode) {
            handle_ = file;
            held_ = true;
            return;
        }
        CloseHandle(file);
        if (backoff.expired()) {
            failure_ = "the lock file keeps being replaced";
            return;
        }
    }
}

FileLock::~FileLock() {
    if (held_) CloseHandle(static_cast<HANDLE>(handle_));  // closing releases the lock
}

#else

namespace {

FileIdentity identityOf(const struct stat& st) {
    return {true,
            std::uint64_t(st.st_dev),
            std::uint64_t(st.st_ino),
            std::int64_t(st.st_size),
            std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
            std::int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

std::string lastError(const char* what, int error) { return std::string(what) + " " + std::strerror(error); }

}  // namespace

FileIdentity identifyFile(const std::filesystem::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? identityOf(st) : FileIdentity{};
}

FileIdentity identifyOpenFile(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? identityOf(st) : FileIdentity{};
}

FileLock::FileLock(const std::filesystem::path& lockFile, int waitMs) {
    Backoff backoff(waitMs);
    // No links (a link to a device must not be opened), no waiting on a pipe.
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    for (;;) {
        int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | kFlags, 0666);
        // A folder that may not be written to can still hold a lock file from before.
        if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = ::open(lockFile.c_str(), O_RDONLY | kFlags);
        if (fd < 0) {
            failure_ = lastError("open:", errno);
            return;
        }
        struct stat opened {};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            ::close(fd);
            failure_ = "is not a regular file";
            return;
        }
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if ((error != EWOULDBLOCK && error != EINTR) || backoff.expired()) {
                ::close(fd);
                failure_ = error == EWOULDBLOCK ? "still held by another program" : lastError("flock:", error);
                return;
            }
            backoff.pause();
        }
        // Locked: still the file under that name? (Someone may have removed or replaced
        // it meanwhile; the next holder would lock the one there now.)
        struct stat named {};
        if (::stat(lockFile.c_str(), &named) == 0 && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino) {
            fd_ = fd;
            held_ = true;
            return;
        }
        ::close(fd);
        if (backoff.expired()) {
            failure_ = "the lock file keeps being replaced";
            return;
        }
    }
}

FileLock::~FileLock() {
    if (held_) ::close(fd_);  // closing releases the lock
}

#endif
