#include "dialogs/frm_settings.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include "platform/system/log.h"
#include "platform/ui/looks.h"
#include "platform/settings/module1.h"
#include "platform/ui/twips.h"

namespace {

QRect twipsRect(int left, int top, int width, int height) {
    return QRect(tw::px(left), tw::px(top), tw::px(width), tw::px(height));
}

QPushButton* button(const char* name, const QString& caption, QWidget* parent, QRect geometry) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(geometry);
    b->setAutoDefault(false);
    b->setDefault(false);
    b->setFocusPolicy(Qt::StrongFocus);
    return b;
}

}  // namespace

frmSettings::frmSettings(std::function<QString()> settingsFileToWrite, std::function<QString()> currentAddress,
                         std::function<void()> clearHistory)
    : ToolWindow(kProgramName + QStringLiteral(" Settings"), 3960, 1800),
      settingsFileToWrite_(std::move(settingsFileToWrite)),
      currentAddress_(std::move(currentAddress)),
      clearHistory_(std::move(clearHistory)) {
    setObjectName(QStringLiteral("frmSettings"));

    // Created in tab order.
    ClearURL = button("ClearURL", QStringLiteral("Clear URL Listbox"), this, twipsRect(120, 1320, 2775, 375));
    Frame1 = new QGroupBox(QStringLiteral("Default URL"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(twipsRect(120, 120, 3735, 1095));
    DefaultURL = new QLineEdit(Frame1);
    DefaultURL->setObjectName(QStringLiteral("DefaultURL"));
    DefaultURL->setGeometry(twipsRect(120, 240, 3495, 285));
    cmd2 = button("cmd2", QStringLiteral("Use Current"), Frame1, twipsRect(1320, 600, 1095, 375));
    Command5 = button("Command5", QStringLiteral("Use Default"), Frame1, twipsRect(2520, 600, 1095, 375));
    cmd1 = button("cmd1", QStringLiteral("Select"), Frame1, twipsRect(120, 600, 1095, 375));
    Command1 = button("Command1", QStringLiteral("&Close"), this, twipsRect(3000, 1320, 855, 375));

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

void frmSettings::showStartPage(const QString& address) { DefaultURL->setText(address); }

void frmSettings::cmd1_Click() {
    const QString file = settingsFileToWrite_();
    if (!storeStartPage(file, DefaultURL->text())) qCDebug(lcDialogs) << "start page not stored: cannot write" << file;
}

void frmSettings::cmd2_Click() {
    DefaultURL->setText(currentAddress_());
    cmd1_Click();
}

void frmSettings::Command5_Click() {
    DefaultURL->setText(kDefaultStartPage);
    cmd1_Click();
}

void frmSettings::ClearURL_Click() { clearHistory_(); }

void frmSettings::Command1_Click() { close(); }

void frmSettings::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    // The dialog is deleted later; from now on the Settings command must create a new one
    // even when it runs before that deletion (a close and a shortcut in one batch of input).
    if (event->isAccepted()) emit closed();
}
