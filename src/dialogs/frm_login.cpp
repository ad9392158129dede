#include "dialogs/frm_login.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QPointer>
#include <QVBoxLayout>

frmLogin::frmLogin(const LoginRequest& request, QWidget* parent) : QDialog(parent) {
    setWindowTitle(request.proxy ? QStringLiteral("Proxy Login") : QStringLiteral("Login"));
    if (parent) setWindowIcon(parent->windowIcon());
    const QString site = request.site.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment |
                                               QUrl::RemoveUserInfo)
                             .toString();
    lblSite = new QLabel(this);
    lblSite->setObjectName(QStringLiteral("lblSite"));
    lblSite->setTextFormat(Qt::PlainText);
    lblSite->setWordWrap(true);
    // The site's own words (its realm) are not shown: a scam site fills them with a
    // message of its own, which would stand in the program's dialog.
    lblSite->setText((request.proxy ? QStringLiteral("The proxy %1 asks for a user name and password.")
                                    : QStringLiteral("%1 asks for a user name and password."))
                         .arg(site));
    txtUser = new QLineEdit(this);
    txtUser->setObjectName(QStringLiteral("txtUser"));
    txtPassword = new QLineEdit(this);
    txtPassword->setObjectName(QStringLiteral("txtPassword"));
    txtPassword->setEchoMode(QLineEdit::Password);
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("&User name:"), txtUser);
    fields->addRow(QStringLiteral("&Password:"), txtPassword);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblSite);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    txtUser->setFocus();

    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool frmLogin::ask(QWidget* parent, LoginRequest& request) {
    QPointer<frmLogin> dialog = new frmLogin(request, parent);
    const bool ok = dialog->exec() == QDialog::Accepted && dialog;
    if (ok) {
        request.user = dialog->txtUser->text();
        request.password = dialog->txtPassword->text();
    }
    delete dialog.data();
    return ok;
}
