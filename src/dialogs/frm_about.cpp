#include "dialogs/frm_about.h"

#include <QPalette>
#include <QPlainTextEdit>

#include "platform/ui/looks.h"
#include "platform/ui/twips.h"

QString frmAbout::text() {
    static const char* const lines[] = {
        "Build 1.2 10/07/2003",
        "",
        "Tarnwick is an Internet Explorer ",
        "shell that aids in the navigation of ",
        "sites that bombard you with popups and ",
        "annoying tricks. In short, it denies ",
        "websites' calls for new windows, and ",
        "when possible opens intended popups in ",
        "the main browsing window.",
        "",
        "While Tarnwick is running, any ",
        "Internet explorer window that ",
        "initializes will be terminated ",
        "immediately.",
    };
    QString text;
    for (const char* line : lines) text += QLatin1String(line) + QStringLiteral("\r\n");
    return text;
}

frmAbout::frmAbout(QWidget* centreOn) : ToolWindow(QStringLiteral("About ") + kProgramName, 4575, 2655) {
    setObjectName(QStringLiteral("frmAbout"));

    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(tw::px(120), tw::px(120), tw::px(4335), tw::px(2415));
    Text1->setReadOnly(true);
    Text1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Text1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text1->setFont(textWindowFont());
    QPalette palette = Text1->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    Text1->setPalette(palette);
    Text1->setPlainText(text());

    if (centreOn) {
        // move() places the frame's top-left corner. This window's frame is not known
        // before it is shown; it is taken to be as thick as the main window's.
        const QRect owner = centreOn->frameGeometry();
        const QRect ownerClient = centreOn->geometry();
        const QSize frame = owner.size() - ownerClient.size();
        const QSize outer = size() + frame;
        move(owner.center() - QPoint(outer.width() / 2, outer.height() / 2));
    }
}
