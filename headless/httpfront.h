#pragma once

#include <QAbstractHttpServer>
#include <QTcpServer>

#include <functional>

namespace headless {

struct HttpReply;

// A listening socket that bounds what one client can hold: at most maxConnections at once (more
// are closed as they come), a request of at most maxRequestBytes, and each request complete
// within requestTimeoutMs of the connection or of the answer before it (an idle connection is
// closed after as long). Qt's HTTP server has none of these limits of its own.
class LimitedTcpServer : public QTcpServer
{
    Q_OBJECT
public:
    explicit LimitedTcpServer(QObject* parent = nullptr);

    int maxConnections = 64;
    qint64 maxRequestBytes = 8192;
    int requestTimeoutMs = 5000;

    int openConnections() const { return m_open; }

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    int m_open = 0;
};

// The HTTP side: every request is answered by the function given, by method and path.
class HttpFront : public QAbstractHttpServer
{
    Q_OBJECT
public:
    using Handler = std::function<HttpReply(const QByteArray& method, const QString& path)>;
    explicit HttpFront(Handler handler, QObject* parent = nullptr);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    Handler m_handler;
};

} // namespace headless
