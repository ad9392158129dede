#include "dialogs/page_dialog_panel.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/system/text_start.h"

namespace {

// A page decides the message's length; the panel shows this much of it.
constexpr qsizetype kMessageShown = 1000;
// The panel's widest, and its margin to the browser area's edges.
constexpr int kMaxWidth = 480;
constexpr int kMargin = 8;

QString shownMessage(const QString& message) { return textStart(message, kMessageShown); }

}  // namespace

QString PageDialogPanel::askerText(const QUrl& origin) {
    return origin.host().isEmpty() ? QStringLiteral("This page says") : origin.authority() + QStringLiteral(" says");
}

void PageDialogPanel::show(QWidget* browser, PageDialog* dialog) {
    if (!browser || !browser->parentWidget() || !dialog || dialog->closed()) return;
    auto* panel = new PageDialogPanel(browser, dialog);
    panel->QDialog::show();
    panel->raise();
    if (panel->edit_) {
        panel->edit_->setFocus();
        panel->edit_->selectAll();
    } else if (QPushButton* ok = panel->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)) {
        ok->setFocus();
    }
}

PageDialogPanel::PageDialogPanel(QWidget* browser, PageDialog* dialog)
    : QDialog(browser->parentWidget(), Qt::Widget), browser_(browser), dialog_(dialog) {
    setWindowFlags(Qt::Widget);  // a panel inside the window, not a window of its own
    setObjectName(QStringLiteral("PageDialog"));
    setAutoFillBackground(true);
    auto* frame = new QVBoxLayout(this);

    auto* asker = new QLabel(askerText(dialog->origin()), this);
    asker->setObjectName(QStringLiteral("lblAsker"));
    asker->setTextFormat(Qt::PlainText);
    QFont bold = asker->font();
    bold.setBold(true);
    asker->setFont(bold);
    frame->addWidget(asker);

    auto* message = new QLabel(shownMessage(dialog->message()), this);
    message->setObjectName(QStringLiteral("lblMessage"));
    message->setTextFormat(Qt::PlainText);
    message->setWordWrap(true);
    message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    frame->addWidget(message);

    if (dialog->kind() == PageDialog::Kind::Prompt) {
        edit_ = new QLineEdit(dialog->value(), this);
        edit_->setObjectName(QStringLiteral("txtAnswer"));
        frame->addWidget(edit_);
    }
    auto* buttons = new QDialogButtonBox(
        dialog->kind() == PageDialog::Kind::Alert ? QDialogButtonBox::Ok : QDialogButtonBox::Ok | QDialogButtonBox::Cancel,
        this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    frame->addWidget(buttons);
    setAccessibleName(asker->text());

    connect(dialog, &PageDialog::Closed, this, &PageDialogPanel::takeAway);
    browser->installEventFilter(this);
    place();
}

bool PageDialogPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == browser_ && (event->type() == QEvent::Resize || event->type() == QEvent::Move)) place();
    return QDialog::eventFilter(watched, event);
}

void PageDialogPanel::place() {
    if (!browser_) return;
    const QRect area = browser_->geometry();
    const int width = std::min(kMaxWidth, area.width() - 2 * kMargin);
    const int height = std::min(heightForWidth(width) > 0 ? heightForWidth(width) : sizeHint().height(),
                                area.height() - 2 * kMargin);
    setGeometry(area.x() + (area.width() - width) / 2, area.y() + kMargin, std::max(width, 0), std::max(height, 0));
}

void PageDialogPanel::done(int result) {
    // Esc on an alert is its OK.
    const bool accepted = result == Accepted || (dialog_ && dialog_->kind() == PageDialog::Kind::Alert);
    if (dialog_) dialog_->answer(accepted, edit_ ? edit_->text() : QString());
    takeAway();
}

void PageDialogPanel::takeAway() {
    if (isHidden()) return;
    // The keyboard goes back to the page when the panel had it.
    const bool hadFocus = isAncestorOf(QApplication::focusWidget());
    hide();
    if (hadFocus && browser_) browser_->setFocus();
    deleteLater();
}
