// The limits on what one client may hold, on a loopback socket.
#include "headless/headlessmonitor.h"
#include "headless/httpfront.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <vector>

class TestHttpFront : public QObject
{
    Q_OBJECT

    // The HTTP server takes a listening socket without a parent for its own; this one is its child.
    headless::LimitedTcpServer* m_tcp = nullptr;
    std::unique_ptr<headless::HttpFront> m_http;

    std::unique_ptr<QTcpSocket> connectClient()
    {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, m_tcp->serverPort());
        return socket;
    }
    // The whole answer, once the server has closed or the answer is complete.
    // The answer's head and what came with it, waiting in the event loop (the server runs in it
    // too); empty when the connection was closed unanswered.
    static QByteArray exchange(QTcpSocket& socket, const QByteArray& request)
    {
        socket.write(request);
        QByteArray answer;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000 && socket.state() == QAbstractSocket::ConnectedState &&
               !answer.contains("\r\n\r\n")) {
            QTest::qWait(10);
            answer += socket.readAll();
        }
        return answer;
    }

    // Far more than a socket's buffers hold, so that it goes out over many writes; no two
    // neighbouring kilobytes alike, so that a piece lost or sent twice shows.
    static QByteArray bigBody()
    {
        QByteArray body;
        for (int i = 0; body.size() < 4 * 1024 * 1024; ++i)
            body += QByteArray::number(i).rightJustified(1024, '.');
        return body;
    }

private Q_SLOTS:
    void init()
    {
        m_http = std::make_unique<headless::HttpFront>([](const QByteArray& method, const QString& path) {
            if (method == "GET" && path == QLatin1String("/ok"))
                return headless::HttpReply{200, "text/plain", "fine\n"};
            if (method == "GET" && path == QLatin1String("/big"))
                return headless::HttpReply{200, "text/plain", bigBody()};
            return headless::HttpReply{404, "text/plain", "Not found\n"};
        });
        m_tcp = new headless::LimitedTcpServer(m_http.get());
        m_tcp->maxConnections = 3;
        m_tcp->requestTimeoutMs = 500;
        QVERIFY(m_tcp->listen(QHostAddress::LocalHost, 0));
        m_http->bind(m_tcp);
    }
    void cleanup()
    {
        m_http.reset();
        m_tcp = nullptr;
    }

    void requests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("statusLine"); // empty: the connection is dropped unanswered
        QTest::newRow("served") << QByteArray("GET /ok HTTP/1.1\r\nHost: x\r\n\r\n") << QByteArray("HTTP/1.1 200");
        QTest::newRow("unknown path") << QByteArray("GET /nope HTTP/1.1\r\nHost: x\r\n\r\n")
                                      << QByteArray("HTTP/1.1 404");
        QTest::newRow("other method") << QByteArray("POST /ok HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n")
                                      << QByteArray("HTTP/1.1 404");
        QTest::newRow("over 8 KiB") << QByteArray("GET /ok HTTP/1.1\r\nX: " + QByteArray(9000, 'a') + "\r\n\r\n")
                                    << QByteArray();
        QTest::newRow("header never ends") << QByteArray("GET /ok HTTP/1.1\r\nHost: x\r\n") << QByteArray();
    }
    void requests()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, statusLine);
        auto socket = connectClient();
        QTRY_COMPARE(socket->state(), QAbstractSocket::ConnectedState);
        const QByteArray answer = exchange(*socket, request);
        if (statusLine.isEmpty()) {
            QVERIFY2(!answer.startsWith("HTTP/1.1 200"), answer.constData());
            QTRY_COMPARE_WITH_TIMEOUT(socket->state(), QAbstractSocket::UnconnectedState, 3000);
        } else {
            QVERIFY2(answer.startsWith(statusLine), answer.constData());
        }
    }

    // A large answer arrives whole and in order, with its length, and the connection still
    // serves the next request.
    void largeBodies()
    {
        auto socket = connectClient();
        QTRY_COMPARE(socket->state(), QAbstractSocket::ConnectedState);
        const QByteArray expected = bigBody();
        for (int round = 0; round < 2; ++round) {
            QByteArray answer = exchange(*socket, "GET /big HTTP/1.1\r\nHost: x\r\n\r\n");
            const qsizetype headEnd = answer.indexOf("\r\n\r\n");
            QVERIFY2(headEnd > 0, answer.left(200).constData());
            QVERIFY(answer.startsWith("HTTP/1.1 200"));
            QVERIFY(answer.left(headEnd).contains(
                QByteArray("Content-Length: ").append(QByteArray::number(expected.size()))));
            QVERIFY(answer.left(headEnd).contains("Content-Type: text/plain"));
            QElapsedTimer clock;
            clock.start();
            while (answer.size() - headEnd - 4 < expected.size() && clock.elapsed() < 10000 &&
                   socket->state() == QAbstractSocket::ConnectedState) {
                QTest::qWait(10); // the server writes from this thread's event loop too
                answer += socket->readAll();
            }
            QCOMPARE(answer.mid(headEnd + 4), expected);
        }
    }

    // Past the limit a connection is closed at once; the ones held are still served, and a
    // place frees up when one of them goes (here by its idle time running out).
    void connectionLimit()
    {
        std::vector<std::unique_ptr<QTcpSocket>> held;
        for (int i = 0; i < 3; ++i) {
            held.push_back(connectClient());
            QTRY_COMPARE(held.back()->state(), QAbstractSocket::ConnectedState);
        }
        QTRY_COMPARE(m_tcp->openConnections(), 3);
        auto extra = connectClient();
        QTRY_COMPARE_WITH_TIMEOUT(extra->state(), QAbstractSocket::UnconnectedState, 2000);
        QVERIFY(exchange(*held[0], "GET /ok HTTP/1.1\r\nHost: x\r\n\r\n").startsWith("HTTP/1.1 200"));
        QTRY_COMPARE_WITH_TIMEOUT(m_tcp->openConnections(), 0, 3000);
        auto later = connectClient();
        QTRY_COMPARE(later->state(), QAbstractSocket::ConnectedState);
        QVERIFY(exchange(*later, "GET /ok HTTP/1.1\r\nHost: x\r\n\r\n").startsWith("HTTP/1.1 200"));
    }
};

QTEST_GUILESS_MAIN(TestHttpFront)
#include "tst_httpfront.moc"
