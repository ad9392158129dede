#include "browse/find_bar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include "platform/ui/twips.h"
#include "platform/web_browser.h"

namespace {

QPushButton* addButton(QWidget* bar, QHBoxLayout* layout, const char* name, const QString& caption) {
    auto* button = new QPushButton(caption, bar);
    button->setObjectName(QLatin1String(name));
    button->setFocusPolicy(Qt::NoFocus);  // a click leaves the keyboard in the text
    button->setAutoDefault(false);
    layout->addWidget(button);
    return button;
}

bool isEscape(QEvent* event) {
    return (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) &&
           static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
}

}  // namespace

FindBar::FindBar(QWidget* parent, WebBrowser* browser)
    : QWidget(parent), browser_(browser), view_(browser->widget()) {
    setObjectName(QStringLiteral("FindBar"));
    setAccessibleName(QStringLiteral("Find in page"));
    setAutoFillBackground(true);
    setAttribute(Qt::WA_StyledBackground);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(4);

    text_ = new QLineEdit(this);
    text_->setObjectName(QStringLiteral("txtFind"));
    text_->setAccessibleName(QStringLiteral("Find"));
    text_->setMinimumWidth(tw::px(2400));
    // Tab keeps going between the page and the address box only.
    text_->setFocusPolicy(Qt::ClickFocus);
    text_->installEventFilter(this);
    layout->addWidget(text_);

    count_ = new QLabel(this);
    count_->setObjectName(QStringLiteral("lblFindCount"));
    count_->setTextFormat(Qt::PlainText);
    count_->setMinimumWidth(tw::px(1200));
    layout->addWidget(count_);

    connect(addButton(this, layout, "cmdFindPrevious", QStringLiteral("Previous")), &QPushButton::clicked, this,
            &FindBar::findPrevious);
    connect(addButton(this, layout, "cmdFindNext", QStringLiteral("Next")), &QPushButton::clicked, this,
            &FindBar::findNext);
    connect(addButton(this, layout, "cmdFindClose", QStringLiteral("Close")), &QPushButton::clicked, this,
            &FindBar::dismiss);
    connect(text_, &QLineEdit::textEdited, this, [this] { search(false); });

    view_->installEventFilter(this);
    hide();
}

void FindBar::open() {
    const bool wasHidden = isHidden();
    followBrowser();
    show();
    raise();
    text_->setFocus(Qt::ShortcutFocusReason);
    text_->selectAll();
    if (wasHidden && !text_->text().isEmpty()) search(false);
}

void FindBar::findNext() {
    if (isHidden()) return open();
    search(false);
}

void FindBar::findPrevious() {
    if (isHidden()) return open();
    search(true);
}

void FindBar::dismiss() {
    ++lastRequest_;  // an answer still on its way is not shown
    hide();
    count_->clear();
    if (browser_) browser_->FindText(QString(), false, {});
    if (view_) view_->setFocus(Qt::OtherFocusReason);
}

void FindBar::search(bool backward) {
    const QString text = text_->text();
    const quint64 request = ++lastRequest_;
    if (text.isEmpty()) count_->clear();
    if (!browser_) return;
    QPointer<FindBar> self(this);
    browser_->FindText(text, backward, [self, request, text](int active, int count) {
        if (!self || request != self->lastRequest_ || text.isEmpty()) return;
        self->count_->setText(count == 0 ? QStringLiteral("No matches")
                                         : QStringLiteral("%1 of %2").arg(active).arg(count));
    });
}

// Over the browser's top right corner, wherever the window's layout puts the browser.
void FindBar::followBrowser() {
    if (!view_) return;
    adjustSize();
    const QRect area = view_->geometry();
    move(area.right() + 1 - width() - tw::px(240), area.top());
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_) {
        if (event->type() == QEvent::Resize || event->type() == QEvent::Move) followBrowser();
        return QWidget::eventFilter(watched, event);
    }
    // Esc belongs to the bar while its text has the keyboard, before any window command.
    if (isEscape(event)) {
        event->accept();
        if (event->type() == QEvent::KeyPress) dismiss();
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            search(key->modifiers() & Qt::ShiftModifier);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
