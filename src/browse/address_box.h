#pragma once

// The address box: an editable combo box (object name "URL") whose list is the URL
// history, kept in the file "URL.slx". Its text and its list are independent: a change
// of the list never changes the text, never leaves an entry selected, and runs no
// handler. A click that brings the keyboard into the box selects its whole text, as in
// every browser. What the person types is theirs: once they have changed the text since
// the keyboard came into the box, the page's addresses (setText) no longer change the
// text, the selection or the cursor; the page's last address shows again when they leave
// the box without confirming (Enter, a chosen entry), at once on Esc.

#include <QComboBox>
#include <QList>
#include <QObject>
#include <QString>

#include "browse/url_history.h"

class QAction;

class AddressBox : public QObject {
    Q_OBJECT
public:
    // Creates the combo box as a child of `parent`, showing `text`. `historyFile` is
    // resolved against the current directory at each access.
    AddressBox(QWidget* parent, const QString& text, const QString& historyFile = QStringLiteral("URL.slx"));

    QComboBox* widget() const { return box_; }
    QString text() const { return box_->currentText(); }
    // The page's address. While the box has the keyboard, the new text is selected whole:
    // what the person types next replaces it instead of joining it; while the person is
    // typing there, it waits until they leave the box.
    void setText(const QString& text);
    const UrlHistory& history() const { return history_; }

    // Window commands whose shortcuts come before the box's own editing keys.
    void setWindowCommands(QList<QAction*> commands) { commands_ = std::move(commands); }

    // Puts the keyboard focus into the box with its whole text selected, so that typing
    // replaces it.
    void focusWithTextSelected();

    // Adds `address` to the list, removes duplicates and saves the list.
    void AddUrlToHistory(const QString& address);
    void RemoveDuplicateUrls();
    // Saves the list; when another copy of the program wrote the file meanwhile, the list
    // first takes in what that copy saved (UrlHistory::save), text and selection unchanged.
    void SaveUrlHistory();
    // Restores the list from the file; an empty or missing file changes nothing.
    void LoadUrlHistory();
    // Empties the list, shows `location` as the text and only entry, deletes the file.
    void ClearUrlHistory(const QString& location);

signals:
    // Every key typed into the box, as its character code (Enter is 13); the key still
    // reaches the box.
    void keyPressed(int keyAscii);
    // An entry was chosen from the list (mouse or arrow keys).
    void entryChosen();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void restorePageText();
    bool followsFocus(QObject* watched, QEvent* event);
    bool escapes(QObject* watched, QEvent* event);

    QComboBox* box_;
    UrlHistory history_;
    QString historyFile_;
    QList<QAction*> commands_;
    bool selectAtRelease_ = false;  // a click brought the keyboard into the box
    QString pageText_;              // the page's address, as last given
    bool edited_ = false;           // the person changed the text since the keyboard came in
};
