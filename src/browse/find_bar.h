#pragma once

// Find in page: a small bar over the top right corner of the browser (object name
// "FindBar", accessible name "Find in page") with the text to find ("txtFind"), the
// matches count ("lblFindCount": "2 of 5", "No matches"), Previous, Next and Close.
// Typing searches as the text changes; Enter is the next match, Shift+Enter the
// previous one; Esc closes the bar, ends the highlight and gives the keyboard back to the
// page.

#include <QPointer>
#include <QWidget>

class QLabel;
class QLineEdit;
class WebBrowser;

class FindBar : public QWidget {
    Q_OBJECT
public:
    // A child of `parent` (the browser widget's parent), hidden until opened.
    FindBar(QWidget* parent, WebBrowser* browser);

    // Shows the bar with the keyboard in its text, all of it selected; a text kept from
    // before is searched again.
    void open();
    // The next or previous match; opens the bar first when it is hidden.
    void findNext();
    void findPrevious();
    // Hides the bar, ends the highlight, and puts the keyboard back into the page.
    void dismiss();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void search(bool backward);
    void followBrowser();

    QPointer<WebBrowser> browser_;
    QPointer<QWidget> view_;  // the browser's widget, which the bar lies over
    QLineEdit* text_;
    QLabel* count_;
    quint64 lastRequest_ = 0;  // only the latest search's answer is shown
};
