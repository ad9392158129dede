#pragma once

// The person's own actions in each page: a mouse press or a key press that reaches a
// page through a view (the view's render widget, where the engine takes its input).
// Each such action lets that page have, for a short while, one answer of each kind: one
// dialog, one entry into full screen, one download. What a page asks for without one
// (on load, from a timer, the next round of a loop) gets no answer here and is refused
// by the caller. Input to the program's own widgets over a page (a dialog panel) is not
// input to the page. An action counts only for the document it was made in: the page's
// next document starts with none (forget).

#include <QElapsedTimer>
#include <QObject>
#include <chrono>
#include <cstdint>
#include <unordered_map>

class QWebEnginePage;
class QWebEngineView;

class PersonActivity : public QObject {
    Q_OBJECT
public:
    enum class Answer : std::uint8_t { Dialog = 1, FullScreen = 2, Download = 4 };

    // How long after the person's press, or its release, the page may take an answer
    // from it: long enough for the engine to run the page's handler of the click or key,
    // too short for a timer the page set up long before.
    static constexpr std::chrono::milliseconds kFreshFor{1000};

    explicit PersonActivity(QObject* parent = nullptr);

    // Follows the person's presses and keys in `view`, for whichever page it shows at
    // the time (a page may move between views, as into full screen and back). The view
    // may go at any time.
    void watch(QWebEngineView* view);

    // One answer of `kind` for `page`: true when the person pressed a mouse button or a
    // key in the page within kFreshFor (of the press or its release) and no answer of
    // that kind was taken from that action yet; the answer is then used up.
    bool take(const QWebEnginePage* page, Answer kind);

    // From now until the person next clicks in `page`, it gets no answer of `kind`, not
    // even for a key (after Esc has taken a page out of full screen, say).
    void requireClick(const QWebEnginePage* page, Answer kind);

    // Whether the person pressed a mouse button or a key in `page`'s document within
    // `within`; no answer is used up.
    bool fresh(const QWebEnginePage* page, std::chrono::milliseconds within = kFreshFor) const;

    // A number for the person's latest press of a mouse button or a key in `page`'s
    // document, which grows with every press in any page; 0 when there was none since
    // the document came.
    std::uint64_t lastPress(const QWebEnginePage* page) const;

    // The page's document goes (another one comes, or the person leaves it): what the
    // person did in it counts for nothing more, in it or in the next one.
    void forget(const QWebEnginePage* page);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Action {
        qint64 at = -1;              // the clock's ms at the latest press or release
        std::uint8_t taken = 0;      // kinds answered from this action
        std::uint8_t clickNeeded = 0;  // kinds that wait for the next click
        std::uint64_t press = 0;     // the latest press's number
    };
    enum class Input { None, Click, Key, Release };
    static Input inputOf(const QEvent* event);
    void record(const QWebEnginePage* page, Input input);
    Action& actionOf(const QWebEnginePage* page);

    QElapsedTimer clock_;
    std::uint64_t presses_ = 0;
    std::unordered_map<const QWebEnginePage*, Action> pages_;
};
