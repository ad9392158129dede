#include "browse/frm_source.h"

#include <QPalette>
#include <QPlainTextEdit>
#include <QEvent>

#include "platform/ui/looks.h"
#include "platform/ui/twips.h"
#include "platform/desktop/window_title.h"

frmSource::frmSource() {
    setObjectName(QStringLiteral("frmSource"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(applicationIcon());
    setWindowTitle(QString());

    txtSource = new QPlainTextEdit(this);
    txtSource->setObjectName(QStringLiteral("txtSource"));
    txtSource->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtSource->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtSource->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtSource->setFont(textWindowFont());
    QPalette palette = txtSource->palette();
    palette.setColor(QPalette::Base, QColor(255, 255, 255));
    txtSource->setPalette(palette);
    txtSource->setGeometry(0, 0, tw::px(9615), tw::px(5055));

    resize(tw::px(9600), tw::px(5040));
}

void frmSource::showSource(const QString& markup, const QString& caption) {
    txtSource->setPlainText(markup);
    setWindowTitle(literalWindowTitle(caption));
    show();
}

void frmSource::Form_Resize() { tw::followOuterSize(txtSource, frameGeometry().size(), 115.0f, 400.0f); }

bool frmSource::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::Resize || event->type() == QEvent::Show) Form_Resize();
    return handled;
}
