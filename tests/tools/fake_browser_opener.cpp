// A stand-in for the desktop's default web browser, registered by the end-to-end tests
// through a .desktop file (Exec=fake_browser_opener RECORD %u).
//
// Usage: fake_browser_opener RECORD [ARG...]
// Appends one record to the file RECORD: every ARG followed by a NUL byte, then one
// newline. The record is written with a single write() in append mode, so records of
// concurrent starts never interleave. Exits 0, or 2 when RECORD cannot be written.

#include <fcntl.h>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::string record;
    for (int i = 2; i < argc; ++i) {
        record += argv[i];
        record += '\0';
    }
    record += '\n';
    const int fd = ::open(argv[1], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return 2;
    const ssize_t written = ::write(fd, record.data(), record.size());
    ::close(fd);
    return written == static_cast<ssize_t>(record.size()) ? 0 : 2;
}
