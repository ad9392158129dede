// The main window follows the hosted browser: status panel 2, LastStatusText, the
// caption, the address box with the history, and MyDocument.

#include "app/frm_main.h"
#include "platform/window_title.h"

void frmMain::ApplyReadyState() {
    // Five separate tests, each reading the state afresh: when the state changes between
    // two reads, the text of the last test that held remains.
    if (Browser->ReadyState() == 4) Panel2->setText(QStringLiteral("Idle"));
    if (Browser->ReadyState() == 3) Panel2->setText(QStringLiteral("Loading page..."));
    if (Browser->ReadyState() == 2) Panel2->setText(QStringLiteral("Idle"));
    if (Browser->ReadyState() == 1) Panel2->setText(QStringLiteral("Loading page..."));
    if (Browser->ReadyState() == 0) Panel2->setText(QStringLiteral("Uninitialized"));
}

void frmMain::Browser_StatusTextChange(const QString& text) {
    LastStatusText = text;
    ApplyReadyState();
    if (text.startsWith(QLatin1String("http://"))) Panel2->setText(text);
}

void frmMain::Browser_ProgressChange(int, int) { ApplyReadyState(); }

void frmMain::Browser_TitleChange(const QString&) {
    setWindowTitle(literalWindowTitle(Browser->LocationName() + QStringLiteral(" - Tarnwick")));
    URL->setEditText(Browser->LocationURL());
    AddUrlToHistory();
}

void frmMain::Browser_DocumentComplete(const QString&) {
    // Whichever frame completed, the top-level document is bound; a document that is
    // not HTML cannot be bound and the previous binding stays.
    std::shared_ptr<HtmlDocument> document = Browser->Document();
    if (!document) return;
    if (document == MyDocument) return;
    if (MyDocument) MyDocument->oncontextmenu = nullptr;
    MyDocument = std::move(document);
    MyDocument->oncontextmenu = [this] { return MyDocument_oncontextmenu(); };
}
