// The address box: its two input handlers, and the URL history behind its list (adding
// the current address, removing duplicates, the file "URL.slx", loading and clearing).

#include <QFile>
#include <QLineEdit>
#include <QSignalBlocker>

#include "app/frm_main.h"

namespace {

// The history file, resolved against the current directory at each access.
const QString kHistoryFile = QStringLiteral("URL.slx");

// The address box's text and list are independent, but QComboBox follows changes of its
// model: it selects the first entry when the list fills from empty, clears its text on a
// reset and moves its text along with a removed current entry. While the list changes,
// the box's signals are held back (so no handler runs), and afterwards no entry is
// current and the text (with the cursor) is what it was before.
class KeepBoxText {
public:
    explicit KeepBoxText(QComboBox* box)
        : box_(box), blocker_(box), text_(box->currentText()),
          cursor_(box->lineEdit() ? box->lineEdit()->cursorPosition() : 0) {}

    ~KeepBoxText() {
        if (box_->currentIndex() != -1) box_->setCurrentIndex(-1);
        if (box_->currentText() != text_) {
            box_->setEditText(text_);
            if (QLineEdit* edit = box_->lineEdit()) edit->setCursorPosition(cursor_);
        }
    }

    KeepBoxText(const KeepBoxText&) = delete;
    KeepBoxText& operator=(const KeepBoxText&) = delete;

private:
    QComboBox* box_;
    QSignalBlocker blocker_;
    QString text_;
    int cursor_;
};

}  // namespace

void frmMain::URL_KeyPress(int keyAscii) {
    if (keyAscii == 13) Browser->Navigate(URL->currentText());
}

void frmMain::URL_Click() {
    Browser->Navigate(URL->currentText());
}

void frmMain::AddUrlToHistory() {
    {
        KeepBoxText keep(URL);
        History.add(Browser->LocationURL());
    }
    RemoveDuplicateUrls();
    SaveUrlHistory();
}

void frmMain::RemoveDuplicateUrls() {
    KeepBoxText keep(URL);
    History.removeDuplicates();
}

void frmMain::SaveUrlHistory() {
    History.save(kHistoryFile);
}

void frmMain::LoadUrlHistory() {
    const QStringList entries = UrlHistory::load(kHistoryFile);
    if (entries.isEmpty()) return;
    KeepBoxText keep(URL);
    History.addAll(entries);
}

void frmMain::ClearUrlHistory() {
    {
        KeepBoxText keep(URL);
        History.clear();
    }
    const QString location = Browser->LocationURL();
    URL->setEditText(location);
    {
        KeepBoxText keep(URL);
        History.add(location);
    }
    QFile::remove(kHistoryFile);
}
