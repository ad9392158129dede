#include "platform/webengine/start_page.h"

#include <QBuffer>
#include <QDir>
#include <QUrl>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>

#include "platform/settings/file_save.h"
#include "platform/system/log.h"

namespace webengine {

const char kStartPageScheme[] = "tarnwick";

namespace {

// Status panel 1's wording, which the page repeats.
QString deniedText(std::int64_t count) {
    return QString::number(count) + (count == 1 ? QStringLiteral(" event denied") : QStringLiteral(" events denied"));
}

QByteArray document(const QString& title, const QString& body) {
    return (QStringLiteral("<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>") + title +
            QStringLiteral("</title><style>"
                           "body{font:15px/1.5 sans-serif;margin:24px 32px;max-width:44em;color:#222}"
                           "h1{font-size:22px;margin:0 0 8px}#count{font-size:18px;font-weight:bold}"
                           "kbd{border:1px solid #aaa;border-radius:3px;padding:0 3px;font-size:13px}"
                           "</style></head><body>") +
            body + QStringLiteral("</body></html>"))
        .toUtf8();
}

// The start page. Served live, it asks for the count twice a second and its "try it"
// link opens a popup; a copy for another browser shows the count of its making and says
// where the link works.
QByteArray startPage(std::int64_t count, bool live) {
    QString body = QStringLiteral(
        "<h1>Tarnwick</h1>"
        "<p>A web browser for sites that bombard their visitors with popup windows. Ten times a "
        "second Tarnwick looks at every window on the desktop and closes each one whose title "
        "ends in \"Microsoft Internet Explorer\", as the windows pages open here are titled. "
        "When you had just pointed at a link, that link opens in this window instead.</p>"
        "<p>So far: <span id=\"count\">%1</span>.</p>")
                       .arg(deniedText(count));
    if (live) {
        body += QStringLiteral(
            "<p><a id=\"try\" href=\"tarnwick://start/popup\" onclick=\"window.open('/popup', '_blank', "
            "'width=360,height=220'); return false;\">Try it: open a popup</a> &mdash; it is closed "
            "at once and counted.</p>"
            "<script>setInterval(function () {"
            "  var r = new XMLHttpRequest();"
            "  r.open('GET', '/count');"
            "  r.onload = function () {"
            "    var n = JSON.parse(r.responseText).denied;"
            "    document.getElementById('count').textContent = n + (n === 1 ? ' event denied' : ' events denied');"
            "  };"
            "  r.send();"
            "}, 500);</script>");
    } else {
        body += QStringLiteral("<p>This is a copy of Tarnwick's start page. Its \"try it\" link works in "
                               "Tarnwick itself, at <code>tarnwick://start/</code>.</p>");
    }
    body += QStringLiteral(
        "<p>Type an address above and press Enter. Besides the menus' keys: <kbd>F5</kbd> reloads, "
        "<kbd>Alt+Left</kbd> and <kbd>Alt+Right</kbd> go back and forward, <kbd>Ctrl+L</kbd> goes to "
        "the address, <kbd>Esc</kbd> stops loading, <kbd>F11</kbd> fills the screen, "
        "<kbd>Ctrl+plus</kbd>, <kbd>Ctrl+minus</kbd> and <kbd>Ctrl+0</kbd> zoom, <kbd>F3</kbd> finds "
        "text in the page.</p>");
    return document(QStringLiteral("Start page"), body);
}

QByteArray popupPage() {
    return document(QStringLiteral("A popup"),
                    QStringLiteral("<p>A popup window, opened by the start page. Tarnwick closes it.</p>"));
}

// The page at `path` of the scheme; empty for a path it does not have.
QByteArray pageAt(const QString& path, std::int64_t count, bool live) {
    if (path.isEmpty() || path == QLatin1String("/")) return startPage(count, live);
    if (path == QLatin1String("/popup")) return popupPage();
    return {};
}

class StartPageHandler : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    std::function<std::int64_t()> deniedCount;

    std::int64_t count() const { return deniedCount ? deniedCount() : 0; }

    void requestStarted(QWebEngineUrlRequestJob* job) override {
        if (job->requestMethod() != "GET") {
            job->fail(QWebEngineUrlRequestJob::RequestDenied);
            return;
        }
        const QString path = job->requestUrl().path();
        QByteArray bytes;
        QByteArray type = "text/html";
        if (path == QLatin1String("/count")) {
            bytes = "{\"denied\": " + QByteArray::number(static_cast<qlonglong>(count())) + "}";
            type = "application/json";
        } else {
            bytes = pageAt(path, count(), true);
        }
        if (bytes.isEmpty()) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        auto* body = new QBuffer(job);
        body->setData(bytes);
        job->reply(type, body);
    }
};

StartPageHandler* handlerOf(QWebEngineProfile* profile) {
    // The handler is ours (installed below); the profile hands it out const.
    return profile ? const_cast<StartPageHandler*>(
                         dynamic_cast<const StartPageHandler*>(profile->urlSchemeHandler(kStartPageScheme)))
                   : nullptr;
}

}  // namespace

void registerStartPageScheme() {
    QWebEngineUrlScheme scheme(kStartPageScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalScheme |
                    QWebEngineUrlScheme::CorsEnabled);
    QWebEngineUrlScheme::registerScheme(scheme);
}

void serveStartPage(QWebEngineProfile* profile, std::function<std::int64_t()> deniedCount) {
    if (!profile) return;
    StartPageHandler* handler = handlerOf(profile);
    if (!handler) {
        handler = new StartPageHandler(profile);
        profile->installUrlSchemeHandler(kStartPageScheme, handler);
    }
    handler->deniedCount = std::move(deniedCount);
}

QString handOffAddress(QWebEngineProfile* profile, const QString& address, const QString& folder) {
    const QUrl url(address);
    if (url.scheme() != QLatin1String(kStartPageScheme)) return address;
    StartPageHandler* handler = handlerOf(profile);
    const QByteArray bytes = pageAt(url.path(), handler ? handler->count() : 0, false);
    if (bytes.isEmpty() || folder.isEmpty() || !QDir().mkpath(folder)) {
        qCDebug(lcEngine) << "nothing to hand over for" << address;
        return {};
    }
    const QString copy = folder + (url.path() == QLatin1String("/popup") ? QStringLiteral("/popup.html")
                                                                         : QStringLiteral("/start-page.html"));
    const bool saved = FileSave::replace(copy, [&bytes](const auto& put) { return put(bytes.constData(), bytes.size()); },
                                         lcEngine());
    if (!saved) return {};
    return QUrl::fromLocalFile(copy).toString(QUrl::FullyEncoded);
}

}  // namespace webengine
