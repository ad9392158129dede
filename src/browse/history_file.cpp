#include "browse/history_file.h"

#include "platform/system/log.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cstring>

namespace HistoryFile {
namespace {

// Chromium's longest address, plus the two quotes around it.
constexpr qsizetype kMaxLineBytes = 2 * 1024 * 1024 + 2;
// A file is read in pieces of this size, never whole.
constexpr qsizetype kReadChunk = 256 * 1024;
// Bytes that hold no entry (blank lines, overlong lines) are read up to this much, each
// line counting kIdleLineCost more for its own handling; then reading stops. A file the
// program wrote has none, and a huge file of line breaks or zeros would otherwise keep
// the window away for seconds (1 GiB of line breaks: 12 s).
constexpr qsizetype kMaxIdleBytes = 32 * 1024 * 1024;
constexpr qsizetype kIdleLineCost = 16;
constexpr qsizetype kWriteChunk = 256 * 1024;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// The text of an entry's bytes. A leading U+FEFF is part of the entry, not a byte-order
// mark: the decoder is told to keep it.
QString decode(QByteArrayView bytes) {
    QStringDecoder decoder(QStringConverter::System, QStringConverter::Flag::ConvertInitialBom);
    return decoder(bytes);
}

// Whether an entry's line, as written, stays within the line limit. Reading and writing
// both apply it, so what is written reads back: a line of invalid bytes reads as U+FFFD
// characters, which take up to 3 bytes each when written.
bool fitsLine(QByteArrayView raw, const QString& entry) {
    if (3 * raw.size() + 2 <= kMaxLineBytes) return true;  // no encoding grows more
    QStringEncoder encoder(QStringConverter::System);
    return encoder.requiredSpace(entry.size()) + 2 <= kMaxLineBytes ||
           QByteArray(encoder(entry)).size() + 2 <= kMaxLineBytes;
}

// The entry a line holds, or false when it holds none.
bool lineEntry(QByteArrayView line, QString* entry) {
    const qsizetype first = line.indexOf('"');
    const qsizetype last = first < 0 ? -1 : line.lastIndexOf('"');
    if (first >= 0 && last > first) {
        const QByteArrayView raw = line.sliced(first + 1, last - first - 1);
        *entry = decode(raw);
        return fitsLine(raw, *entry);
    }
    qsizetype begin = 0;
    qsizetype end = line.size();
    while (begin < end && isBlank(line[begin])) ++begin;
    while (end > begin && isBlank(line[end - 1])) --end;
    if (begin < end && line[begin] == '"') ++begin;
    else if (begin < end && line[end - 1] == '"') --end;
    if (begin == end) return false;
    const QByteArrayView raw = line.sliced(begin, end - begin);
    *entry = decode(raw);
    return fitsLine(raw, *entry);
}

}  // namespace

bool Reader::feed(QByteArrayView data) {
    qsizetype pos = 0;
    const qsizetype size = data.size();
    if (afterCr_ && size > 0) {
        afterCr_ = false;
        if (data[0] == '\n') pos = 1;
    }
    while (pos < size && !done_) {
        const char* start = data.data() + pos;
        const size_t rest = static_cast<size_t>(size - pos);
        const char* lf = static_cast<const char*>(std::memchr(start, '\n', rest));
        const size_t scan = lf ? static_cast<size_t>(lf - start) : rest;
        const char* cr = static_cast<const char*>(std::memchr(start, '\r', scan));
        const char* brk = cr ? cr : lf;
        if (!brk) {
            append(QByteArrayView(start, static_cast<qsizetype>(rest)));
            return !done_;
        }
        const qsizetype len = brk - start;
        if (pending_.isEmpty() && !overlong_) {
            if (len <= kMaxLineBytes) take(QByteArrayView(start, len));
            else idle(len);
        } else {
            append(QByteArrayView(start, len));
            endLine();
        }
        pos += len + 1;
        if (*brk == '\r') {
            if (pos < size) {
                if (data[pos] == '\n') ++pos;
            } else {
                afterCr_ = true;
            }
        }
    }
    return !done_;
}

QStringList Reader::finish() {
    if (!done_ && (!pending_.isEmpty() || overlong_)) endLine();
    return std::move(entries_);
}

void Reader::append(QByteArrayView part) {
    if (overlong_) {
        idle(part.size());
        return;
    }
    if (pending_.size() + part.size() > kMaxLineBytes) {
        overlong_ = true;
        idle(pending_.size() + part.size());
        pending_ = QByteArray();
        return;
    }
    pending_.append(part);
}

void Reader::endLine() {
    if (!overlong_) take(pending_);
    overlong_ = false;
    pending_.clear();
}

void Reader::idle(qsizetype bytes) {
    idleBytes_ += bytes + kIdleLineCost;
    if (idleBytes_ > kMaxIdleBytes) done_ = true;
}

void Reader::take(QByteArrayView line) {
    QString entry;
    if (!lineEntry(line, &entry)) {
        idle(line.size());
        return;
    }
    if (restoring_ && !sawEntry_ && entry.isEmpty()) {
        done_ = true;  // an empty first entry restores nothing
        return;
    }
    sawEntry_ = true;
    entries_.append(std::move(entry));
    if (entries_.size() >= kMaxEntries) done_ = true;
}

QStringList read(QByteArrayView bytes) {
    Reader reader;
    reader.feed(bytes);
    return reader.finish();
}

bool write(const QStringList& entries, const std::function<bool(const char*, qint64)>& put) {
    // One reused buffer, handed on whenever the next line would not fit.
    QStringEncoder encoder(QStringConverter::System);
    QByteArray buffer(kWriteChunk, Qt::Uninitialized);
    char* base = buffer.data();
    char* out = base;
    for (const QString& entry : entries) {
        const qsizetype need = encoder.requiredSpace(entry.size()) + 4;
        if ((out - base) + need > buffer.size()) {
            if (out != base && !put(base, out - base)) return false;
            if (need > buffer.size()) buffer.resize(need);
            base = buffer.data();
            out = base;
        }
        char* const line = out;
        *out++ = '"';
        out = encoder.appendToBuffer(out, entry);
        *out++ = '"';
        if (out - line > kMaxLineBytes) {  // would not read back: leave it out
            out = line;
            continue;
        }
        *out++ = '\r';
        *out++ = '\n';
    }
    return out == base || put(base, out - base);
}

QStringList readFile(const QString& path, bool restoring, FileSave::Identity* identity) {
    // Only a regular file: opening a pipe would wait for a writer, a device may never end.
    const QFileInfo info(path);
    if (!info.isFile()) {
        if (info.exists()) qCDebug(lcHistory) << "not read: not a regular file:" << path;
        *identity = FileSave::identify(path);
        return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        qCDebug(lcHistory) << "not read:" << path << file.errorString();
        *identity = FileSave::identify(path);
        return {};
    }
    *identity = FileSave::identify(file.handle());  // what is read, whatever replaces it meanwhile
    Reader reader(restoring);
    QByteArray buffer(kReadChunk, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(buffer.data(), buffer.size());
        if (got < 0) qCDebug(lcHistory) << "read stopped:" << path << file.errorString();
        if (got <= 0) break;
        if (!reader.feed(QByteArrayView(buffer.constData(), got))) break;
    }
    return reader.finish();
}

}  // namespace HistoryFile
