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

    // "http://127.0.0.1:PORT/path".
    QString url(const QString& path) const;

    // How many requests for `path` arrived so far (any path, routed or not).
    int requestCount(const QString& path) const;

private:
    struct Route {
        QByteArray body;
        QByteArray contentType;
        int delayMs = 0;
    };

    static QString normalized(const QString& path);
    void accept();
    QByteArray answer(const QString& path, int* delayMs);

    mutable QMutex mutex_;
    QHash<QString, Route> routes_;
    QHash<QString, int> counts_;
    QThread thread_;
    QTcpServer* server_ = nullptr;  // lives in thread_
    quint16 port_ = 0;
};
