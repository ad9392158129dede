#include "platform/webengine/dead_page.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <csignal>

DeadPage::Ending DeadPage::endingOf(int terminationStatus, int exitCode) {
    switch (terminationStatus) {
    case QWebEnginePage::KilledTerminationStatus:
        return Ending::Killed;
    case QWebEnginePage::CrashedTerminationStatus:
        // The engine stops a renderer with a trap when its page outgrows the memory it
        // may have (the script heap's bound, or an allocation that fails); a fault of
        // the renderer itself ends it with another signal. On Windows the trap is a
        // breakpoint exception, or the engine's own out-of-memory exception code.
#ifdef _WIN32
        return exitCode == int(0x80000003u) || exitCode == int(0xE0000008u) ? Ending::OutOfMemory : Ending::Crashed;
#else
        return exitCode == SIGTRAP ? Ending::OutOfMemory : Ending::Crashed;
#endif
    case QWebEnginePage::AbnormalTerminationStatus:
        return Ending::Crashed;
    default:
        return Ending::Ended;
    }
}

namespace {

struct Words {
    const char* caption;
    const char* sentence;
};

Words wordsFor(DeadPage::Ending ending) {
    switch (ending) {
    case DeadPage::Ending::Crashed:
        return {"Page crashed", "The process that showed this page crashed."};
    case DeadPage::Ending::Killed:
        return {"Page killed", "The process that showed this page was killed."};
    case DeadPage::Ending::OutOfMemory:
        return {"Page out of memory", "This page used more memory than a page may, and was stopped."};
    case DeadPage::Ending::Ended:
        break;
    }
    return {"Page ended", "The process that showed this page has ended."};
}

}  // namespace

QString DeadPage::shortText(Ending ending) { return QString::fromLatin1(wordsFor(ending).caption); }

QString DeadPage::explanation(Ending ending) { return QString::fromLatin1(wordsFor(ending).sentence); }

DeadPage::DeadPage(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    headline_ = new QLabel(this);
    QFont big = headline_->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    headline_->setFont(big);
    explanation_ = new QLabel(this);
    explanation_->setWordWrap(true);
    address_ = new QLabel(this);
    address_->setWordWrap(true);
    address_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A link in looks, a button for the keyboard and for screen readers.
    reload_ = new QPushButton(QStringLiteral("Reload"), this);
    reload_->setFlat(true);
    reload_->setCursor(Qt::PointingHandCursor);
    reload_->setStyleSheet(QStringLiteral("QPushButton { color: palette(link); text-decoration: underline;"
                                          " border: none; padding: 2px; text-align: left; }"));
    connect(reload_, &QPushButton::clicked, this, &DeadPage::reloadRequested);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->setSpacing(12);
    layout->addWidget(headline_);
    layout->addWidget(explanation_);
    layout->addWidget(address_);
    layout->addWidget(reload_, 0, Qt::AlignLeft);
    layout->addStretch(1);
    setFocusProxy(reload_);
}

void DeadPage::tell(Ending ending, const QString& address) {
    headline_->setText(shortText(ending));
    explanation_->setText(explanation(ending));
    address_->setText(address);
    reload_->setToolTip(address);
}
