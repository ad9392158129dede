#pragma once

// A small HTTP/1.1 server on the loopback interface for tests and benchmarks. It runs
// in its own thread, so it answers while the test's thread is blocked, and it serves
// other processes (a started tarnwick) as well. Each answer closes its connection.

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QThread>

class QTcpServer;

class HttpServer {
public:
    // Listens on 127.0.0.1 at a port the system picks.
    HttpServer();
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    bool ok() const { return port_ != 0; }
    quint16 port() const { return port_; }

    // Serves `body` at `path` ("/page.html" or "page.html"); the query part of a request
    // is ignored when matching. Any other path answers 404.
    void route(const QString& path, const QByteArray& body,
               const QByteArray& contentType = "text/html; charset=utf-8");
    // Holds back the answer for `path` by `milliseconds` (other requests go on meanwhile).
    void setDelay(const QString& path, int milliseconds);
    // Extra header lines for `path`'s answer ("Set-Cookie: a=b\r\n...", each ending in CR LF).
    void setHeaders(const QString& path, const QByteArray& headers);
    // `path` asks for Basic authentication in `realm` and answers 401 with `refusal` as
    // the body until a request carries `user`:`password`.
    void requireLogin(const QString& path, const QByteArray& realm, const QByteArray& user,
                      const QByteArray& password, const QByteArray& refusal);
    // The body goes out in pieces of `chunkBytes` every `intervalMs`; with `cutAfter`
    // >= 0 the connection is dropped after that many body bytes (Content-Length still
    // announcing the whole body).
    void setPacing(const QString& path, int chunkBytes, int intervalMs, qint64 cutAfter = -1);

    // "http://127.0.0.1:PORT/path".
    QString url(const QString& path) const;

    // How many requests for `path` arrived so far (any path, routed or not).
    int requestCount(const QString& path) const;
    // The header lines of the last request for `path` (empty when none arrived).
    QByteArray lastRequest(const QString& path) const;

private:
    struct Route {
        QByteArray body;
        QByteArray contentType;
        int delayMs = 0;
        QByteArray headers;
        QByteArray realm, credentials, refusal;  // Basic login when credentials are set
        int chunkBytes = 0, intervalMs = 0;
        qint64 cutAfter = -1;
    };
    struct Answer {
        QByteArray head, body;
        int delayMs = 0, chunkBytes = 0, intervalMs = 0;
        qint64 cutAfter = -1;
    };

    static QString normalized(const QString& path);
    void accept();
    Answer answer(const QString& path, const QByteArray& request);

    mutable QMutex mutex_;
    QHash<QString, Route> routes_;
    QHash<QString, int> counts_;
    QHash<QString, QByteArray> lastRequests_;
    QThread thread_;
    QTcpServer* server_ = nullptr;  // lives in thread_
    quint16 port_ = 0;
};
