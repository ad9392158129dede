#pragma once

// Back and Forward for the person, over a page's history: the entries a page adds on its
// own, without the person's action in it (one pushed on load, a thousand of them, a
// script's redirect), are passed over, so one step reaches the page the person was on.
// An entry counts as added on its own when the one after it came without the person: the
// entry the page pushed from, or redirected from, is skipped, as the engines of the big
// browsers do.

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QString>

class PersonActivity;
class QWebEnginePage;

class HistorySteps : public QObject {
    Q_OBJECT
public:
    // Follows `page`'s history; belongs to the page.
    HistorySteps(QWebEnginePage* page, PersonActivity* activity);

    // The person's own navigation (an address, a history entry, a click in the page) is
    // under way: the next entry shown is theirs.
    void personNavigates() { personCause_ = true; }

    // The index of the entry one step back (`step` -1) or forward (1) for the person: past
    // the entries the page added on its own; the plain next entry when every one is such;
    // -1 when there is none.
    int target(int step);

    // Has `page` go to its history entry `index`, the one it is on too (a fresh page that
    // replaced one on its way there has the entry but has not loaded it).
    static void goTo(QWebEnginePage* page, int index);

    // A page that replaces `other`'s, with its history, passes over the same entries.
    void takeOver(const HistorySteps& other) { skipped_ = other.skipped_; }

private:
    // Takes note of the entry the page shows now.
    void observe();

    QWebEnginePage* page_;
    PersonActivity* activity_;
    QSet<QString> skipped_;   // the entries to pass over
    QString seen_;            // the entry shown when last looked at
    QDateTime seenAt_;        // and when it was shown
    bool personCause_ = false;
};
