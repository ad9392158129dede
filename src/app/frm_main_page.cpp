// The main window's handlers that follow the hosted browser (status panel 2,
// LastStatusText, the caption, the address box with the history, MyDocument), steer it
// (page commands, context menu, hand-off) and show the page's source.

#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <optional>

#include "app/frm_main.h"
#include "browse/address_box.h"
#include "browse/frm_source.h"
#include "platform/system/log.h"
#include "platform/ui/looks.h"
#include "platform/web_browser.h"
#include "platform/desktop/window_title.h"

namespace {

// Panel 2's page states.
const QString kIdle = QStringLiteral("Idle");
const QString kLoadingPage = QStringLiteral("Loading page...");
const QString kUninitialized = QStringLiteral("Uninitialized");

// A menu caption shows "&" only when doubled; a single one marks the access key.
QString literalMenuText(QString text) { return text.replace(QLatin1Char('&'), QStringLiteral("&&")); }

}  // namespace

// ---------------------------------------------------------------------------------
// Browser events

void frmMain::ApplyReadyState() {
    // Five separate tests, each reading the state afresh: when the state changes between
    // two reads, the text of the last test that held remains.
    if (Browser->ReadyState() == 4) Panel2->setText(kIdle);
    if (Browser->ReadyState() == 3) Panel2->setText(kLoadingPage);
    if (Browser->ReadyState() == 2) Panel2->setText(kIdle);
    if (Browser->ReadyState() == 1) Panel2->setText(kLoadingPage);
    if (Browser->ReadyState() == 0) Panel2->setText(kUninitialized);
}

void frmMain::Browser_StatusTextChange(const QString& text) {
    LastStatusText = text;
    ApplyReadyState();
    if (text.startsWith(QLatin1String("http://"))) Panel2->setText(text);
}

void frmMain::Browser_ProgressChange(int, int) { ApplyReadyState(); }

void frmMain::Browser_TitleChange(const QString&) {
    setWindowTitle(literalWindowTitle(captionWithProgramName(Browser->LocationName())));
    address_->setText(Browser->LocationURL());
    AddUrlToHistory();
}

void frmMain::Browser_DocumentComplete(const QString&) {
    // Whichever frame completed, the top-level document is bound; a document that is
    // not HTML cannot be bound and the previous binding stays.
    std::shared_ptr<HtmlDocument> document = Browser->Document();
    if (!document) {
        qCDebug(lcApp) << "completed document not bound: not HTML";
        return;
    }
    if (document == MyDocument) return;
    if (MyDocument) MyDocument->oncontextmenu = nullptr;
    MyDocument = std::move(document);
    MyDocument->oncontextmenu = [this] { return MyDocument_oncontextmenu(); };
}

// ---------------------------------------------------------------------------------
// Page commands

void frmMain::mnuOpen_Click() {
    // Failing steps are skipped. The dialog proposes the last confirmed file name.
    QString fileName = dlgFileName;
    if (!platform_.showOpen || !platform_.showOpen(fileName)) return;  // cancelled
    dlgFileName = fileName;
    Browser->Navigate(fileName);
}

void frmMain::mnuBack_Click() { Browser->GoBack(); }

void frmMain::mnuForward_Click() { Browser->GoForward(); }

void frmMain::mnuStop_Click() {
    Browser->Stop();  // the panel is corrected whether or not the stop succeeded
    if (Panel2->text() == kLoadingPage) Panel2->setText(kIdle);
}

void frmMain::mnuRefresh_Click() { Browser->Refresh(); }

// Before the first completed load there is no document: the document commands then do
// nothing.
void frmMain::runDocumentCommand(const QString& command) {
    if (MyDocument)
        MyDocument->execCommand(command);
    else
        qCDebug(lcApp) << "document command" << command << "skipped: no document yet";
}

void frmMain::mnuCopy_Click() { runDocumentCommand(QStringLiteral("copy")); }

void frmMain::mnuPaste_Click() { runDocumentCommand(QStringLiteral("paste")); }

void frmMain::mnuPrint_Click() { runDocumentCommand(QStringLiteral("print")); }

void frmMain::mnuSaveAs_Click() { runDocumentCommand(QStringLiteral("saveas")); }

// ---------------------------------------------------------------------------------
// The page's context menu is ours: refresh, print, save, and the hand-off of the
// current page to the desktop's default web browser.

bool frmMain::MyDocument_oncontextmenu() {
    mnuLaunchIE->setText(literalMenuText(QStringLiteral("Launch ") + Browser->LocationURL() +
                                         QStringLiteral(" In Default Browser")));
    popupMenu(mnuPop);
    return false;  // the page's own menu never shows
}

void frmMain::mnuPopRefresh_Click() { runDocumentCommand(QStringLiteral("refresh")); }

void frmMain::mnuLaunchIE_Click() {
    tmrEngine->stop();  // no sweep runs from here on
    const QString address = Browser->LocationURL();
    // The outcome does not matter: the program ends either way.
    if (!platform_.openUrl || !platform_.openUrl(address))
        qCDebug(lcApp) << "no default browser started for" << address;
    mnuExit_Click();
}

// ---------------------------------------------------------------------------------
// Source viewer

void frmMain::mnuSource2_Click() {
    // The markup is read from the page, which answers asynchronously. Without a
    // document, or without a root element, nothing happens.
    std::shared_ptr<HtmlDocument> document = Browser->Document();
    if (!document) {
        qCDebug(lcApp) << "no source shown: no HTML document";
        return;
    }
    const QString caption = captionWithProgramName(Browser->LocationURL());
    QPointer<frmMain> self(this);
    document->documentElementInnerHTML([self, caption](std::optional<QString> markup) {
        if (!self) return;
        if (!markup) {
            qCDebug(lcApp) << "no source shown: the document has no root element";
            return;
        }
        // The window is created and shown in one go, so an existing one that is hidden
        // was closed and only waits for its deletion: it is not reused.
        if (!self->Source || self->Source->isHidden()) self->Source = new frmSource();
        self->Source->showSource(*markup, caption);
    });
}
