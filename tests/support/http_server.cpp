#include "http_server.h"

#include <QHostAddress>
#include <QMutexLocker>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>
#include <algorithm>
#include <memory>

HttpServer::HttpServer() {
    thread_.setObjectName(QStringLiteral("HttpServer"));
    thread_.start();
    server_ = new QTcpServer();
    server_->moveToThread(&thread_);
    QMetaObject::invokeMethod(
        server_,
        [this] {
            QObject::connect(server_, &QTcpServer::newConnection, server_, [this] { accept(); });
            if (server_->listen(QHostAddress::LocalHost, 0)) port_ = server_->serverPort();
        },
        Qt::BlockingQueuedConnection);
}

HttpServer::~HttpServer() {
    QMetaObject::invokeMethod(server_, [this] { delete server_; }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

QString HttpServer::normalized(const QString& path) {
    return path.startsWith(QLatin1Char('/')) ? path : QStringLiteral("/") + path;
}

void HttpServer::route(const QString& path, const QByteArray& body, const QByteArray& contentType) {
    QMutexLocker lock(&mutex_);
    Route& r = routes_[normalized(path)];
    r.body = body;
    r.contentType = contentType;
}

void HttpServer::setDelay(const QString& path, int milliseconds) {
    QMutexLocker lock(&mutex_);
    routes_[normalized(path)].delayMs = milliseconds;
}

void HttpServer::setHeaders(const QString& path, const QByteArray& headers) {
    QMutexLocker lock(&mutex_);
    routes_[normalized(path)].headers = headers;
}

void HttpServer::requireLogin(const QString& path, const QByteArray& realm, const QByteArray& user,
                              const QByteArray& password, const QByteArray& refusal) {
    QMutexLocker lock(&mutex_);
    Route& r = routes_[normalized(path)];
    r.realm = realm;
    r.credentials = (user + ':' + password).toBase64();
    r.refusal = refusal;
}

void HttpServer::setPacing(const QString& path, int chunkBytes, int intervalMs, qint64 cutAfter) {
    QMutexLocker lock(&mutex_);
    Route& r = routes_[normalized(path)];
    r.chunkBytes = chunkBytes;
    r.intervalMs = intervalMs;
    r.cutAfter = cutAfter;
}

QByteArray HttpServer::lastRequest(const QString& path) const {
    QMutexLocker lock(&mutex_);
    return lastRequests_.value(normalized(path));
}

QString HttpServer::url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(normalized(path));
}

int HttpServer::requestCount(const QString& path) const {
    QMutexLocker lock(&mutex_);
    return counts_.value(normalized(path));
}

HttpServer::Answer HttpServer::answer(const QString& path, const QByteArray& request) {
    QMutexLocker lock(&mutex_);
    ++counts_[path];
    lastRequests_[path] = request;
    const auto it = routes_.constFind(path);
    QByteArray status = "200 OK", type, headers;
    Answer a;
    if (it == routes_.constEnd() || it->contentType.isEmpty()) {
        status = "404 Not Found";
        type = "text/html; charset=utf-8";
        a.body = "<html><head><title>Not Found</title></head><body>Not Found</body></html>";
    } else if (!it->credentials.isEmpty() &&
               !request.contains("\r\nAuthorization: Basic " + it->credentials + "\r\n")) {
        status = "401 Unauthorized";
        type = "text/html; charset=utf-8";
        headers = "WWW-Authenticate: Basic realm=\"" + it->realm + "\"\r\n";
        a.body = it->refusal;
    } else {
        type = it->contentType;
        headers = it->headers;
        a.body = it->body;
        a.delayMs = it->delayMs;
        a.chunkBytes = it->chunkBytes;
        a.intervalMs = it->intervalMs;
        a.cutAfter = it->cutAfter;
    }
    a.head = "HTTP/1.1 " + status + "\r\nContent-Type: " + type + "\r\nContent-Length: " +
             QByteArray::number(a.body.size()) + "\r\nCache-Control: no-store\r\nConnection: close\r\n" + headers +
             "\r\n";
    return a;
}

namespace {

// Drops the connection once what was written so far has gone out: a cut-off answer.
void cutOff(QTcpSocket* socket) {
    while (socket->bytesToWrite() > 0 && socket->waitForBytesWritten(2000)) {
    }
    socket->abort();
}

}  // namespace

void HttpServer::accept() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto request = std::make_shared<QByteArray>();
        auto answered = std::make_shared<bool>(false);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request, answered] {
            if (*answered) return;
            request->append(socket->readAll());
            if (!request->contains("\r\n\r\n")) {
                if (request->size() > 1 << 20) socket->abort();
                return;
            }
            // "GET /path?query HTTP/1.1"
            const QList<QByteArray> words = request->left(request->indexOf("\r\n")).split(' ');
            QString target = words.size() >= 2 ? QString::fromLatin1(words[1]) : QStringLiteral("/");
            target = target.left(target.indexOf(QRegularExpression(QStringLiteral("[?#]"))));
            *answered = true;
            const Answer a = answer(normalized(target), request->left(request->indexOf("\r\n\r\n") + 2));
            QPointer<QTcpSocket> guarded(socket);
            QTimer::singleShot(a.delayMs, socket, [guarded, a] {
                if (!guarded) return;
                guarded->write(a.head);
                const qint64 end = a.cutAfter >= 0 ? std::min<qint64>(a.cutAfter, a.body.size()) : a.body.size();
                if (a.chunkBytes <= 0) {
                    guarded->write(a.body.constData(), end);
                    if (a.cutAfter >= 0)
                        cutOff(guarded);
                    else
                        guarded->disconnectFromHost();  // after the pending data is written
                    return;
                }
                // Paced: one piece per interval while the client keeps up.
                auto sent = std::make_shared<qint64>(0);
                auto* pace = new QTimer(guarded);
                QObject::connect(pace, &QTimer::timeout, guarded, [guarded, a, sent, end, pace] {
                    if (guarded->bytesToWrite() > a.chunkBytes) return;
                    const qint64 n = std::min<qint64>(a.chunkBytes, end - *sent);
                    guarded->write(a.body.constData() + *sent, n);
                    *sent += n;
                    if (*sent < end) return;
                    pace->stop();
                    if (a.cutAfter >= 0) {
                        cutOff(guarded);
                    } else {
                        guarded->disconnectFromHost();
                    }
                });
                pace->start(a.intervalMs);
            });
        });
    }
}
