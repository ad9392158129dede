#pragma once

// The login dialog for a site or proxy behind HTTP authentication: the asking site (its
// scheme, host and port), a user name and a password.

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/web_browser.h"

class frmLogin : public QDialog {
    Q_OBJECT
public:
    frmLogin(const LoginRequest& request, QWidget* parent);

    QLabel* lblSite = nullptr;
    QLineEdit* txtUser = nullptr;
    QLineEdit* txtPassword = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;

    // Asks the user (modal over `parent`): true with the user name and password filled
    // into `request`, false when cancelled.
    static bool ask(QWidget* parent, LoginRequest& request);
};
