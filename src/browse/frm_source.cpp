#include "browse/frm_source.h"

#include <QPalette>
#include <QPointer>
#include <QResizeEvent>

#include "app/frm_main.h"
#include "platform/twips.h"
#include "platform/window_title.h"

frmSource::frmSource() {
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

void frmSource::Form_Resize() {
    // From the window's outer size in twips; a negative result keeps the previous size.
    const QRect outer = frameGeometry();
    const float width = static_cast<float>(tw::twips(outer.width())) - 115.0f;
    const float height = static_cast<float>(tw::twips(outer.height())) - 400.0f;
    if (width >= 0) txtSource->resize(tw::px(width), txtSource->height());
    if (height >= 0) txtSource->resize(txtSource->width(), tw::px(height));
}

void frmSource::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Form_Resize();
}

void frmSource::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Form_Resize();
}

void frmMain::mnuSource2_Click() {
    // The markup is read from the page, which answers asynchronously. Without a
    // document, or without a root element, nothing happens.
    std::shared_ptr<HtmlDocument> document = Browser->Document();
    if (!document) return;
    const QString caption = Browser->LocationURL() + QStringLiteral(" - Tarnwick");
    QPointer<frmMain> self(this);
    document->documentElementInnerHTML([self, caption](std::optional<QString> markup) {
        if (!self || !markup) return;
        // The window is created and shown in one go, so an existing one that is hidden
        // was closed and only waits for its deletion: it is not reused.
        if (!self->Source || self->Source->isHidden()) self->Source = new frmSource();
        self->Source->txtSource->setPlainText(*markup);
        self->Source->setWindowTitle(literalWindowTitle(caption));
        self->Source->show();
    });
}
