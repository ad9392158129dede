#include "dialogs/frm_denied.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int kAddressRole = Qt::UserRole;
// How much of an address a row and its tip show; the row keeps it whole to open or copy.
constexpr qsizetype kAddressShown = 300;

// What the person reads for a kind; a kind without a name here shows as it is called.
QString kindText(const QString& kind) {
    static const std::pair<const char*, const char*> names[] = {
        {"Window", "Window"},          {"Program", "Window"},   {"Dialog", "Dialog"},
        {"FullScreen", "Full screen"}, {"Download", "Download"}, {"Navigation", "Navigation"},
    };
    for (const auto& [key, text] : names)
        if (kind == QLatin1String(key)) return QLatin1String(text);
    return kind.isEmpty() ? QStringLiteral("Denied") : kind;
}

}  // namespace

frmDenied::frmDenied(std::function<void(const QString&)> openHere)
    : ToolWindow(QStringLiteral("Denied"), 9000, 3600, Sizing::Resizable), openHere_(std::move(openHere)) {
    setObjectName(QStringLiteral("frmDenied"));
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("lstDenied"));
    list_->setAccessibleName(QStringLiteral("Denied events, newest first"));
    list_->setUniformItemSizes(true);
    list_->installEventFilter(this);
    dropped_ = new QLabel(this);
    dropped_->setObjectName(QStringLiteral("lblDropped"));
    dropped_->setTextFormat(Qt::PlainText);
    dropped_->hide();
    open_ = new QPushButton(QStringLiteral("&Open here"), this);
    open_->setObjectName(QStringLiteral("cmdOpenHere"));
    open_->setEnabled(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(dropped_, 1);
    buttons->addWidget(open_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);

    connect(open_, &QPushButton::clicked, this, &frmDenied::openCurrent);
    connect(list_, &QListWidget::itemActivated, this, &frmDenied::openCurrent);
    connect(list_, &QListWidget::currentRowChanged, this, [this] { open_->setEnabled(!currentAddress().isEmpty()); });
}

QString frmDenied::rowText(const Denial& denial) {
    QStringList parts{denial.time.toString(QStringLiteral("HH:mm:ss")), kindText(denial.kind) + QLatin1Char(':')};
    if (!denial.address.isEmpty()) parts << textStart(denial.address, kAddressShown);
    if (!denial.text.isEmpty()) parts << QChar(0x201C) + denial.text + QChar(0x201D);
    if (!denial.origin.isEmpty())
        parts << (denial.kind == QLatin1String("Program") ? QStringLiteral("of ") : QStringLiteral("from ")) + denial.origin;
    return parts.join(QLatin1Char(' '));
}

void frmDenied::showLog(const DenialLog& log, std::int64_t count) {
    const auto& entries = log.entries();
    const std::size_t fresh = std::size_t(std::min<std::uint64_t>(log.added() - shown_, entries.size()));
    shown_ = log.added();
    for (std::size_t i = fresh; i-- > 0;) {
        auto* item = new QListWidgetItem(rowText(entries[i]));
        item->setData(kAddressRole, entries[i].address);
        item->setToolTip(textStart(entries[i].address, kAddressShown));
        list_->insertItem(0, item);
    }
    while (std::size_t(list_->count()) > entries.size()) delete list_->takeItem(list_->count() - 1);
    if (list_->currentRow() < 0 && list_->count() > 0) list_->setCurrentRow(0);
    const std::int64_t dropped = count - std::int64_t(entries.size());
    dropped_->setText(QString::number(dropped) + QStringLiteral(" earlier dropped"));
    dropped_->setVisible(dropped > 0);
}

QString frmDenied::currentAddress() const {
    const QListWidgetItem* item = list_->currentItem();
    return item ? item->data(kAddressRole).toString() : QString();
}

void frmDenied::openCurrent() {
    const QString address = currentAddress();
    if (!address.isEmpty() && openHere_) openHere_(address);
}

bool frmDenied::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        const QListWidgetItem* item = list_->currentItem();
        if (item && QGuiApplication::clipboard()) {
            const QString address = currentAddress();
            QGuiApplication::clipboard()->setText(address.isEmpty() ? item->text() : address);
        }
        return true;
    }
    return ToolWindow::eventFilter(watched, event);
}
