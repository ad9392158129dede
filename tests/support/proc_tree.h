#pragma once

// Processes as /proc shows them, for tests and benchmarks that follow a program and the
// helper processes it starts (the web engine's).

#include <QString>
#include <optional>
#include <sys/types.h>
#include <vector>

struct ProcStat {
    pid_t pid = 0;
    pid_t ppid = 0;
    char state = '?';
    unsigned long long startTime = 0;  // clock ticks after boot
    unsigned long long cpuTicks = 0;   // utime + stime
    QString name;
};

// /proc/PID/stat; nullopt when the process is gone.
std::optional<ProcStat> readProcStat(pid_t pid);

// `root` and all its descendants, zombies included.
std::vector<ProcStat> processTree(pid_t root);

// A "Name: N kB" figure of /proc/PID/status (VmRSS, VmHWM, ...) in kB; 0 when gone.
long procStatusKb(pid_t pid, const char* field);
