#pragma once

// What saving a shared file needs from the system, in plain standard C++ (it builds with
// the Windows compilers alone): an exclusive advisory lock on a lock file (flock on POSIX,
// LockFileEx on Windows) and the identity of a file's present state.

#include <cstdint>
#include <filesystem>
#include <string>

// What tells one state of a file from another without reading it: a replaced file is a
// new file (inode, or file index on Windows), a file written in place has a new size or
// modification time.
struct FileIdentity {
    bool exists = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The file `path` names (links followed); `exists` is false when there is none.
FileIdentity identifyFile(const std::filesystem::path& path);
// The file open as the C runtime's file descriptor `fd`.
FileIdentity identifyOpenFile(int fd);

// An exclusive lock on `lockFile` (created when missing), held while the object lives.
// Waits at most `waitMs` for another holder. The lock file must be a regular file of its
// own: a link, a folder, a pipe or a device is never opened for it. When no lock can be
// had, held() is false and failure() says why.
class FileLock {
public:
    FileLock(const std::filesystem::path& lockFile, int waitMs);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool held() const { return held_; }
    const std::string& failure() const { return failure_; }

private:
    bool held_ = false;
    std::string failure_;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};
