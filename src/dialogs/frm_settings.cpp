#include "dialogs/frm_settings.h"

#include <QCloseEvent>

#include "app/frm_main.h"
#include "app/module1.h"
#include "dialogs/tool_window.h"
#include "platform/twips.h"

namespace {

QRect twipsRect(int left, int top, int width, int height) {
    return QRect(tw::px(left), tw::px(top), tw::px(width), tw::px(height));
}

}  // namespace

frmSettings::frmSettings(frmMain& main) : QWidget(nullptr), main_(main) {
    // A fixed tool window: small caption with a close box only, no taskbar entry.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Tarnwick Settings"));
    setWindowIcon(applicationIcon());
    setFixedSize(tw::px(3960), tw::px(1800));

    // Created in tab order.
    ClearURL = new QPushButton(QStringLiteral("Clear URL Listbox"), this);
    ClearURL->setGeometry(twipsRect(120, 1320, 2775, 375));
    Frame1 = new QGroupBox(QStringLiteral("Default URL"), this);
    Frame1->setGeometry(twipsRect(120, 120, 3735, 1095));
    DefaultURL = new QLineEdit(Frame1);
    DefaultURL->setGeometry(twipsRect(120, 240, 3495, 285));
    cmd2 = new QPushButton(QStringLiteral("Use Current"), Frame1);
    cmd2->setGeometry(twipsRect(1320, 600, 1095, 375));
    Command5 = new QPushButton(QStringLiteral("Use Default"), Frame1);
    Command5->setGeometry(twipsRect(2520, 600, 1095, 375));
    cmd1 = new QPushButton(QStringLiteral("Select"), Frame1);
    cmd1->setGeometry(twipsRect(120, 600, 1095, 375));
    Command1 = new QPushButton(QStringLiteral("&Close"), this);
    Command1->setGeometry(twipsRect(3000, 1320, 855, 375));

    for (QPushButton* button : {ClearURL, cmd2, Command5, cmd1, Command1}) {
        button->setAutoDefault(false);
        button->setDefault(false);
        button->setFocusPolicy(Qt::StrongFocus);
    }
    setTabOrder(ClearURL, DefaultURL);
    setTabOrder(DefaultURL, cmd2);
    setTabOrder(cmd2, Command5);
    setTabOrder(Command5, cmd1);
    setTabOrder(cmd1, Command1);
    // The first control of the tab order has the focus when the dialog opens.
    ClearURL->setFocus();

    connect(cmd1, &QPushButton::clicked, this, [this] { cmd1_Click(); });
    connect(cmd2, &QPushButton::clicked, this, [this] { cmd2_Click(); });
    connect(Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
    connect(ClearURL, &QPushButton::clicked, this, [this] { ClearURL_Click(); });
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
}

void frmSettings::cmd1_Click() {
    WriteIniString(QStringLiteral("Tarnwick"), QStringLiteral("DefaultURL"), DefaultURL->text(),
                   main_.settingsPathToWrite());
}

void frmSettings::cmd2_Click() {
    DefaultURL->setText(main_.URL->currentText());
    cmd1_Click();
}

void frmSettings::Command5_Click() {
    DefaultURL->setText(kDefaultStartPage);
    cmd1_Click();
}

void frmSettings::ClearURL_Click() { main_.ClearUrlHistory(); }

void frmSettings::Command1_Click() { close(); }

void frmSettings::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    // The dialog is deleted later; from now on the Settings command must create a new one
    // even when it runs before that deletion (a close and a shortcut in one batch of input).
    if (event->isAccepted() && main_.Settings == this) main_.Settings.clear();
}

void frmSettings::showEvent(QShowEvent* event) {
    // The show event comes before the window is mapped: the taskbar hint goes with it.
    keepOutOfTaskbar(this);
    QWidget::showEvent(event);
}
