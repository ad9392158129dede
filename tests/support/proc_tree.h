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

// CPU time of the process's threads now alive (/proc/PID/task/*/schedstat), in ns: finer
// than the clock ticks of /proc/PID/stat; 0 when gone.
unsigned long long threadsCpuNs(pid_t pid);

// A "Name: N kB" figure of /proc/PID/status (VmRSS, VmHWM, ...) in kB; 0 when gone.
long procStatusKb(pid_t pid, const char* field);
