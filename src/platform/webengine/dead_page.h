#pragma once

// What the browser shows, instead of the engine's empty grey view, over a page whose
// renderer has ended: what happened to the page, its address and a link that loads it
// again. It is the program's own page, a widget beside the engine's view, so it shows
// whatever became of the engine's renderers and adds nothing to the page's history.

#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;

class DeadPage : public QWidget {
    Q_OBJECT
public:
    // How a renderer ended, from the engine's termination status and exit code.
    enum class Ending { Crashed, Killed, OutOfMemory, Ended };
    static Ending endingOf(int terminationStatus, int exitCode);
    // A few words for the caption ("Page crashed"), and a sentence for the page.
    static QString shortText(Ending ending);
    static QString explanation(Ending ending);

    explicit DeadPage(QWidget* parent);

    // Shows what happened to the page at `address`.
    void tell(Ending ending, const QString& address);

signals:
    // The person chose to load the page again.
    void reloadRequested();

private:
    QLabel* headline_ = nullptr;
    QLabel* explanation_ = nullptr;
    QLabel* address_ = nullptr;
    QPushButton* reload_ = nullptr;
};
