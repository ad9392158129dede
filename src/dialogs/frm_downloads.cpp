#include "dialogs/frm_downloads.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QString bytesText(qint64 bytes) { return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat); }

}  // namespace

frmDownloads::frmDownloads(std::function<bool(const QString&)> openFolder)
    : ToolWindow(QStringLiteral("Downloads"), 7200, 3600, Sizing::Resizable),  // 480 x 240 pixels at first
      openFolder_(std::move(openFolder)) {
    setObjectName(QStringLiteral("frmDownloads"));
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    auto* inner = new QWidget(scroll);
    list_ = new QVBoxLayout(inner);
    list_->addStretch(1);
    scroll->setWidget(inner);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
}

QString frmDownloads::statusText(const Download& download, double bytesPerSecond) {
    const qint64 received = download.receivedBytes(), total = download.totalBytes();
    switch (download.state()) {
    case Download::State::Completed:
        return bytesText(received) + QStringLiteral(", done");
    case Download::State::Cancelled:
        return QStringLiteral("Cancelled");
    case Download::State::Failed:
        return QStringLiteral("Failed after ") + bytesText(received);
    default:
        break;
    }
    QString text = total > 0 ? bytesText(received) + QStringLiteral(" of ") + bytesText(total) : bytesText(received);
    if (bytesPerSecond > 0) text += QStringLiteral(", ") + bytesText(static_cast<qint64>(bytesPerSecond)) + QStringLiteral("/s");
    return text;
}

void frmDownloads::add(Download* download) {
    if (!download || listed_.contains(download)) return;
    listed_.append(download);
    auto* row = new QWidget;
    auto* name = new QLabel(row);
    name->setTextFormat(Qt::PlainText);
    auto* bar = new QProgressBar(row);
    bar->setObjectName(QStringLiteral("progress"));
    auto* status = new QLabel(row);
    status->setObjectName(QStringLiteral("status"));
    status->setTextFormat(Qt::PlainText);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), row);
    auto* open = new QPushButton(QStringLiteral("Open folder"), row);
    auto* grid = new QVBoxLayout(row);
    auto* buttons = new QHBoxLayout;
    grid->addWidget(name);
    grid->addWidget(bar);
    buttons->addWidget(status, 1);
    buttons->addWidget(cancel);
    buttons->addWidget(open);
    grid->addLayout(buttons);
    list_->insertWidget(rows_++, row);

    QPointer<Download> watched = download;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    auto last = std::make_shared<std::pair<qint64, qint64>>(0, download->receivedBytes());  // ms, bytes
    auto rate = std::make_shared<double>(0);
    auto update = [=] {
        if (!watched) return;
        const QString path = watched->path().isEmpty() ? watched->proposedPath() : watched->path();
        name->setText(QFileInfo(path).fileName());
        const qint64 now = clock->elapsed();
        if (now - last->first >= 500) {  // the rate over the last half second or more
            *rate = (watched->receivedBytes() - last->second) * 1000.0 / double(now - last->first);
            *last = {now, watched->receivedBytes()};
        }
        const bool running = watched->state() == Download::State::Running || watched->state() == Download::State::Asking;
        const qint64 total = watched->totalBytes();
        bar->setRange(0, total > 0 || !running ? 1000 : 0);  // busy bar while the size is unknown
        if (total > 0 || !running)
            bar->setValue(total > 0 ? int(watched->receivedBytes() * 1000 / total) : 1000);
        status->setText(statusText(*watched, running ? *rate : 0));
        cancel->setEnabled(running);
    };
    connect(download, &Download::Changed, row, update);
    connect(cancel, &QPushButton::clicked, row, [watched] {
        if (watched) watched->cancel();
    });
    connect(open, &QPushButton::clicked, row, [this, watched] {
        if (!watched || !openFolder_) return;
        const QString path = watched->path().isEmpty() ? watched->proposedPath() : watched->path();
        openFolder_(QUrl::fromLocalFile(QFileInfo(path).absolutePath()).toString());
    });
    update();
}

void askWhereToSave(QWidget* parent, Download* download, std::function<void(Download*)> accepted) {
    if (!download) return;
    auto* dialog = new QFileDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setWindowTitle(QStringLiteral("Save File"));
    const QFileInfo proposed(download->proposedPath());
    dialog->setDirectory(proposed.absolutePath());
    dialog->selectFile(proposed.fileName());
    QPointer<Download> watched = download;
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [watched, accepted](const QString& path) {
        if (!watched || path.isEmpty()) return;
        watched->accept(path);
        if (accepted) accepted(watched);
    });
    QObject::connect(dialog, &QFileDialog::rejected, dialog, [watched] {
        if (watched) watched->cancel();
    });
    // Not modal: the main window, its close box and Exit stay usable meanwhile.
    dialog->setWindowModality(Qt::NonModal);
    dialog->show();
}
