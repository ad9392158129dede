#include "platform/webengine/history_steps.h"

#include <QDateTime>
#include <QWebEngineHistory>
#include <QWebEnginePage>

#include "platform/system/log.h"
#include "platform/webengine/person_activity.h"

namespace {

// Which entry it is: the engine stamps every entry with the time it was shown last.
QString entryId(const QWebEngineHistoryItem& item) {
    return QString::number(item.lastVisited().toMSecsSinceEpoch()) + QLatin1Char(' ') + item.url().toString();
}

}  // namespace

HistorySteps::HistorySteps(QWebEnginePage* page, PersonActivity* activity)
    : QObject(page), page_(page), activity_(activity) {
    // A new entry shows with a new address (pushed, or another page), a title or the end
    // of a load; each is a moment to look.
    connect(page, &QWebEnginePage::urlChanged, this, &HistorySteps::observe);
    connect(page, &QWebEnginePage::titleChanged, this, &HistorySteps::observe);
    connect(page, &QWebEnginePage::loadFinished, this, &HistorySteps::observe);
}

void HistorySteps::observe() {
    QWebEngineHistory* history = page_->history();
    const QWebEngineHistoryItem current = history->currentItem();
    const QString id = entryId(current);
    if (id == seen_) return;
    // New last entries (the ones after an entry are dropped when one is added; going back
    // and forth shows an earlier one) that came without the person: every entry from the
    // one seen before up to the new one is passed over, those the page added in between
    // too.
    const int index = history->currentItemIndex();
    const bool added = index == history->count() - 1;
    if (added && seenAt_.isValid() && !personCause_ && !(activity_ && activity_->fresh(page_))) {
        for (int earlier = index - 1; earlier >= 0; --earlier) {
            const QWebEngineHistoryItem entry = history->itemAt(earlier);
            if (entry.lastVisited() < seenAt_) break;
            skipped_.insert(entryId(entry));
        }
        if (skipped_.size() > 4096) skipped_.clear();  // the engine keeps far fewer entries
    }
    personCause_ = false;
    seen_ = id;
    seenAt_ = current.lastVisited();
}

int HistorySteps::target(int step) {
    observe();
    QWebEngineHistory* history = page_->history();
    const int next = history->currentItemIndex() + step;
    if (next < 0 || next >= history->count()) return -1;
    for (int index = next; index >= 0 && index < history->count(); index += step) {
        // Forward lands on the last of a run of entries a page added: passed over are
        // those it went on from.
        if (!skipped_.contains(entryId(history->itemAt(index)))) return index;
    }
    qCDebug(lcEngine) << "every entry" << (step < 0 ? "back" : "forward") << "was added by the page on its own";
    return next;
}

void HistorySteps::goTo(QWebEnginePage* page, int index) {
    QWebEngineHistory* history = page->history();
    if (index >= 0 && index < history->count()) history->goToItem(history->itemAt(index));
}
