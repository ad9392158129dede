// The page's context menu is ours: refresh, print, save, and the hand-off of the
// current page to the desktop's default web browser.

#include "app/frm_main.h"

namespace {

// A menu caption shows "&" only when doubled; a single one marks the access key.
QString literalMenuText(QString text) { return text.replace(QLatin1Char('&'), QStringLiteral("&&")); }

}  // namespace

bool frmMain::MyDocument_oncontextmenu() {
    mnuLaunchIE->setText(literalMenuText(QStringLiteral("Launch ") + Browser->LocationURL() +
                                         QStringLiteral(" In Default Browser")));
    popupMenu(mnuPop);
    return false;  // the page's own menu never shows
}

void frmMain::mnuPopRefresh_Click() {
    // Failures are skipped.
    if (MyDocument) MyDocument->execCommand(QStringLiteral("refresh"));
}

void frmMain::mnuLaunchIE_Click() {
    tmrEngine->stop();  // no sweep runs from here on
    const QString address = Browser->LocationURL();
    if (platform_.openUrl) platform_.openUrl(address);  // the outcome does not matter
    mnuExit_Click();
}
