#include "headless/httpfront.h"

#include "headless/headlessmonitor.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpSocket>
#include <QTimer>

#include <unistd.h>

namespace headless {

LimitedTcpServer::LimitedTcpServer(QObject* parent) : QTcpServer(parent) {}

void LimitedTcpServer::incomingConnection(qintptr socketDescriptor)
{
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        ::close(int(socketDescriptor));
        delete socket;
        return;
    }
    if (m_open >= maxConnections) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++m_open;
    connect(socket, &QObject::destroyed, this, [this] { --m_open; });
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    // Each read brings at most this much, so a flood is cut off before much of it is parsed.
    socket->setReadBufferSize(maxRequestBytes + 1);

    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    deadline->setInterval(requestTimeoutMs);
    connect(deadline, &QTimer::timeout, socket, &QAbstractSocket::abort);
    deadline->start();
    // Bytes of the request under way. Connected before the HTTP server's own handler, so it sees
    // what arrived before the parser takes it.
    auto received = std::make_shared<qint64>(0);
    connect(socket, &QIODevice::readyRead, socket, [this, socket, received] {
        *received += socket->bytesAvailable();
        if (*received > maxRequestBytes)
            socket->abort();
    });
    connect(socket, &QIODevice::bytesWritten, socket, [received, deadline] {
        *received = 0;
        deadline->start();
    });
    addPendingConnection(socket);
}

HttpFront::HttpFront(Handler handler, QObject* parent) : QAbstractHttpServer(parent), m_handler(std::move(handler)) {}

bool HttpFront::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    QByteArray method;
    switch (request.method()) {
    case QHttpServerRequest::Method::Get:
        method = "GET";
        break;
    default:
        method = "OTHER";
        break;
    }
    const HttpReply reply = m_handler(method, request.url().path());
    QHttpServerResponder responder = makeResponder(request, socket);
    // The same status line and headers as the responder's own write, but the body handed to the
    // socket as the QByteArray it is: the socket keeps a reference to it instead of copying it
    // into its buffer, which for a /metrics page of 10,000 hosts is some 30 MB a scrape.
    responder.writeStatusLine(QHttpServerResponder::StatusCode(reply.status));
    responder.writeHeader("Content-Type", reply.contentType);
    responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
    responder.writeBody("", 0); // ends the headers
    socket->write(reply.body);
    return true;
}

void HttpFront::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
}

} // namespace headless
