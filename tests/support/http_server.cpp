#include "http_server.h"

#include <QHostAddress>
#include <QMutexLocker>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
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

QString HttpServer::url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(normalized(path));
}

int HttpServer::requestCount(const QString& path) const {
    QMutexLocker lock(&mutex_);
    return counts_.value(normalized(path));
}

QByteArray HttpServer::answer(const QString& path, int* delayMs) {
    QMutexLocker lock(&mutex_);
    ++counts_[path];
    const auto it = routes_.constFind(path);
    QByteArray status = "200 OK", type, body;
    *delayMs = 0;
    if (it == routes_.constEnd() || it->contentType.isEmpty()) {
        status = "404 Not Found";
        type = "text/html; charset=utf-8";
        body = "<html><head><title>Not Found</title></head><body>Not Found</body></html>";
    } else {
        type = it->contentType;
        body = it->body;
        *delayMs = it->delayMs;
    }
    return "HTTP/1.1 " + status + "\r\nContent-Type: " + type + "\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
}

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
            int delayMs = 0;
            const QByteArray response = answer(normalized(target), &delayMs);
            QPointer<QTcpSocket> guarded(socket);
            QTimer::singleShot(delayMs, socket, [guarded, response] {
                if (!guarded) return;
                guarded->write(response);
                guarded->disconnectFromHost();  // after the pending data is written
            });
        });
    }
}
