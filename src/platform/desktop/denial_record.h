#pragma once

// One denied event as the person can look it up afterwards (the "Denied" list behind
// status panel 1), and the session's list of them. Whoever denies something fills in what
// it knows; kinds added later need nothing new here.

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <deque>

#include "platform/system/text_start.h"

struct Denial {
    // What was denied: "Window" (a window a page asked for), "Program" (another program's
    // window), or the name of what a page was refused ("Dialog", "FullScreen",
    // "Download", ...).
    QString kind;
    QDateTime time;   // when; filled in when it is recorded
    QString address;  // the address a window was asked to open: the way back to it
    QString origin;   // the page or origin that asked; another program's name
    QString text;     // a window's title, the start of a dialog's message, a file name

    static Denial of(const QString& kind, const QString& origin, const QString& text = QString(),
                     const QString& address = QString()) {
        Denial denial;
        denial.kind = kind;
        denial.address = address;
        denial.origin = origin;
        denial.text = text;
        return denial;
    }
};

// The newest denials of the session, in memory only, at most kKeep of them. Each keeps
// its text and origin to kTextKept characters: a window's title or a program's name may be
// megabytes long, a thousand times over. The address is kept whole: it is the way back.
class DenialLog {
public:
    static constexpr std::size_t kKeep = 1000;
    static constexpr qsizetype kTextKept = 200;

    void add(Denial denial) {
        if (denial.time.isNull()) denial.time = QDateTime::currentDateTime();
        denial.text = textStart(denial.text, kTextKept);
        denial.origin = textStart(denial.origin, kTextKept);
        entries_.push_front(std::move(denial));
        if (entries_.size() > kKeep) entries_.pop_back();
        ++added_;
    }
    // Newest first.
    const std::deque<Denial>& entries() const { return entries_; }
    // How many were ever added (kept or not).
    std::uint64_t added() const { return added_; }

private:
    std::deque<Denial> entries_;
    std::uint64_t added_ = 0;
};
