#include "browse/address_box.h"

#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalBlocker>

#include "platform/system/log.h"

namespace {

// The address box's text and list are independent, but QComboBox follows changes of its
// model: it selects the first entry when the list fills from empty, clears its text on a
// reset and moves its text along with a removed current entry. While the list changes,
// the box's signals are held back (so no handler runs), and afterwards no entry is
// current and the text (with the cursor) is what it was before.
class KeepBoxText {
public:
    explicit KeepBoxText(QComboBox* box)
        : box_(box), blocker_(box), text_(box->currentText()) {
        if (QLineEdit* edit = box->lineEdit()) {
            cursor_ = edit->cursorPosition();
            selectionStart_ = edit->selectionStart();
            selectionLength_ = edit->selectionLength();
        }
    }

    ~KeepBoxText() {
        if (box_->currentIndex() != -1) box_->setCurrentIndex(-1);
        if (box_->currentText() != text_) box_->setEditText(text_);
        QLineEdit* edit = box_->lineEdit();
        if (!edit || (edit->cursorPosition() == cursor_ && edit->selectionStart() == selectionStart_ &&
                      edit->selectionLength() == selectionLength_))
            return;
        if (selectionStart_ < 0) {
            edit->setCursorPosition(cursor_);
        } else if (cursor_ == selectionStart_) {  // selected leftwards: the cursor at its start
            edit->setSelection(selectionStart_ + selectionLength_, -selectionLength_);
        } else {
            edit->setSelection(selectionStart_, selectionLength_);
        }
    }

    KeepBoxText(const KeepBoxText&) = delete;
    KeepBoxText& operator=(const KeepBoxText&) = delete;

private:
    QComboBox* box_;
    QSignalBlocker blocker_;
    QString text_;
    int cursor_ = 0;
    int selectionStart_ = -1;
    int selectionLength_ = 0;
};

}  // namespace

AddressBox::AddressBox(QWidget* parent, const QString& text, const QString& historyFile)
    : QObject(parent), box_(new QComboBox(parent)), historyFile_(historyFile) {
    box_->setObjectName(QStringLiteral("URL"));
    box_->setEditable(true);
    box_->setInsertPolicy(QComboBox::NoInsert);
    box_->setDuplicatesEnabled(true);
    box_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box_->setMaxVisibleItems(20);
    box_->setModel(&history_);
    box_->setCurrentIndex(-1);
    box_->setEditText(text);
    pageText_ = text;

    // Keys reach the combo box (the line edit's focus proxy), which hands them on to the
    // line edit directly; keys sent to the line edit itself are seen there.
    box_->installEventFilter(this);
    box_->lineEdit()->installEventFilter(this);
    // QComboBox turns the line edit's editingFinished (Enter, and every loss of focus) into
    // activated as soon as the text equals a list entry, which it does for every visited
    // page: the page would be requested again at each focus change. Only a choice from the
    // list (mouse, arrow keys) may reach entryChosen, so that path is cut; Enter is
    // keyPressed alone.
    // The slot is Qt's private one: should a Qt version rename it, the cut is gone.
    if (!QObject::disconnect(box_->lineEdit(), SIGNAL(editingFinished()), box_, SLOT(_q_editingFinished())))
        qCWarning(lcBrowse) << "the combo box's own editingFinished handler was not cut off:"
                               " leaving the address box may open its page again";
    // No completion: Enter opens exactly the text the user typed.
    box_->setCompleter(nullptr);
    // Its name for a screen reader. On Linux Qt names an editable combo box by its text,
    // so the name goes to the line edit too: it is what has the focus when the person is
    // in the box, and what a screen reader announces there.
    box_->setAccessibleName(QStringLiteral("Address"));
    box_->lineEdit()->setAccessibleName(QStringLiteral("Address"));
    connect(box_, qOverload<int>(&QComboBox::activated), this, [this](int) {
        edited_ = false;
        emit entryChosen();
    });
    connect(box_->lineEdit(), &QLineEdit::textEdited, this, [this] { edited_ = true; });
}

void AddressBox::setText(const QString& text) {
    pageText_ = text;
    // What the person is typing stays as it is: the page's address shows again once they
    // leave the box without confirming, or press Esc.
    if (edited_ && box_->hasFocus()) return;
    edited_ = false;
    box_->setEditText(text);
    if (box_->hasFocus() && box_->lineEdit()) box_->lineEdit()->selectAll();
}

void AddressBox::restorePageText() {
    edited_ = false;
    box_->setEditText(pageText_);
    if (box_->hasFocus()) box_->lineEdit()->selectAll();
}

bool AddressBox::followsFocus(QObject* watched, QEvent* event) {
    // The keyboard comes into the box, or goes elsewhere in the program: the person's
    // typing starts, or is over. The drop-down list and another program's window taking
    // the keyboard for a while are neither.
    if ((watched != box_ && watched != box_->lineEdit()) ||
        (event->type() != QEvent::FocusIn && event->type() != QEvent::FocusOut))
        return false;
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason) return false;
    if (event->type() == QEvent::FocusIn)
        edited_ = false;
    else if (edited_ && !box_->hasFocus())
        restorePageText();
    return true;
}

bool AddressBox::escapes(QObject* watched, QEvent* event) {
    // Esc over typed text gives the page's address back, before any window command
    // bound to Esc.
    if (!edited_ || (watched != box_ && watched != box_->lineEdit())) return false;
    if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress) return false;
    if (static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape) return false;
    event->accept();
    if (event->type() == QEvent::KeyPress) restorePageText();
    return true;
}

bool AddressBox::eventFilter(QObject* watched, QEvent* event) {
    // The click that brings the keyboard in selects the whole text once the button is up
    // (the press itself places the cursor), unless it dragged a selection of its own.
    QLineEdit* edit = box_->lineEdit();
    if ((watched == box_ || watched == edit) && event->type() == QEvent::FocusIn)
        selectAtRelease_ = static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason;
    followsFocus(watched, event);
    if (escapes(watched, event)) return true;
    if (watched == edit && event->type() == QEvent::MouseButtonRelease && selectAtRelease_) {
        selectAtRelease_ = false;
        if (!edit->hasSelectedText()) edit->selectAll();
    }
    if (event->type() == QEvent::ShortcutOverride) {
        // The line edit claims Ctrl+B, Ctrl+E, Ctrl+F (and more) for its own editing keys
        // on X11; the window's commands come first.
        auto* key = static_cast<QKeyEvent*>(event);
        const QKeySequence pressed(key->keyCombination());
        for (QAction* command : commands_) {
            if (command->shortcut() == pressed) {
                event->ignore();
                return true;
            }
        }
    }
    // Every key typed into the box passes the combo box once (the line edit hands back
    // what it does not take, such as Enter).
    if (watched == box_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        int code = 0;
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            code = 13;
        else if (!key->text().isEmpty())
            code = key->text().at(0).unicode();
        if (code == 13) edited_ = false;  // confirmed: the page's next address shows
        if (code != 0) emit keyPressed(code);
    }
    return QObject::eventFilter(watched, event);  // the key still reaches the control
}

void AddressBox::focusWithTextSelected() {
    box_->setFocus(Qt::ShortcutFocusReason);
    box_->lineEdit()->selectAll();
}

void AddressBox::AddUrlToHistory(const QString& address) {
    {
        KeepBoxText keep(box_);
        history_.add(address);
    }
    RemoveDuplicateUrls();
    SaveUrlHistory();
}

void AddressBox::RemoveDuplicateUrls() {
    KeepBoxText keep(box_);
    history_.removeDuplicates();
}

void AddressBox::SaveUrlHistory() {
    KeepBoxText keep(box_);  // the list may take entries another copy of the program saved
    history_.save(historyFile_);
}

void AddressBox::LoadUrlHistory() {
    KeepBoxText keep(box_);
    history_.restore(historyFile_);
}

void AddressBox::ClearUrlHistory(const QString& location) {
    {
        KeepBoxText keep(box_);
        history_.clear();
    }
    box_->setEditText(location);
    pageText_ = location;
    edited_ = false;
    {
        KeepBoxText keep(box_);
        history_.add(location);
    }
    history_.removeFile(historyFile_);
}
