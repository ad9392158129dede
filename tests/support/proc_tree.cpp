#include "proc_tree.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <unordered_map>

std::optional<ProcStat> readProcStat(pid_t pid) {
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray line = file.readAll();
    const int open = line.indexOf('(');
    const int close = line.lastIndexOf(')');
    if (open < 0 || close < open) return std::nullopt;
    // Fields after the name: state(3) ppid(4) ... utime(14) stime(15) ... starttime(22).
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (fields.size() < 20) return std::nullopt;
    ProcStat stat;
    stat.pid = pid;
    stat.name = QString::fromLocal8Bit(line.mid(open + 1, close - open - 1));
    stat.state = fields[0].isEmpty() ? '?' : fields[0].at(0);
    stat.ppid = fields[1].toInt();
    stat.cpuTicks = fields[11].toULongLong() + fields[12].toULongLong();
    stat.startTime = fields[19].toULongLong();
    return stat;
}

std::vector<ProcStat> processTree(pid_t root) {
    std::unordered_map<pid_t, ProcStat> all;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isNumber = false;
        const pid_t pid = entry.toInt(&isNumber);
        if (!isNumber) continue;
        if (auto stat = readProcStat(pid)) all.emplace(pid, *stat);
    }
    std::vector<ProcStat> tree;
    for (const auto& [pid, stat] : all) {
        pid_t up = pid;
        for (int depth = 0; depth < 64 && up > 1 && up != root; ++depth) {
            auto it = all.find(up);
            up = it == all.end() || it->second.ppid == up ? 0 : it->second.ppid;
        }
        if (up == root) tree.push_back(stat);
    }
    return tree;
}

unsigned long long threadsCpuNs(pid_t pid) {
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    unsigned long long ns = 0;
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks + u'/' + task + QStringLiteral("/schedstat"));
        if (file.open(QIODevice::ReadOnly)) ns += file.readAll().split(' ').value(0).toULongLong();
    }
    return ns;
}

long procStatusKb(pid_t pid, const char* field) {
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) return 0;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith(key)) return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    return 0;
}
