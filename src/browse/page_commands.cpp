// Commands that steer the browser and that act on the current document.

#include "app/frm_main.h"

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
    if (Panel2->text() == QLatin1String("Loading page...")) Panel2->setText(QStringLiteral("Idle"));
}

void frmMain::mnuRefresh_Click() { Browser->Refresh(); }

// Before the first completed load there is no document: the document commands then do
// nothing.
void frmMain::mnuCopy_Click() {
    if (MyDocument) MyDocument->execCommand(QStringLiteral("copy"));
}

void frmMain::mnuPaste_Click() {
    if (MyDocument) MyDocument->execCommand(QStringLiteral("paste"));
}

void frmMain::mnuPrint_Click() {
    if (MyDocument) MyDocument->execCommand(QStringLiteral("print"));
}

void frmMain::mnuSaveAs_Click() {
    if (MyDocument) MyDocument->execCommand(QStringLiteral("saveas"));
}
