// The metrics page, the JSON view and the answers by path, from a monitor driven by a scripted
// prober (no network).
#include "headless/headlessmonitor.h"
#include "headless/metrics.h"
#include "tests/support/fakes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <functional>

using headless::HostMetrics;
Q_DECLARE_METATYPE(HostMetrics)
Q_DECLARE_METATYPE(std::function<void(headless::HeadlessMonitor&)>)

class TestMetrics : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void render_data()
    {
        QTest::addColumn<HostMetrics>("host");
        QTest::addColumn<QByteArrayList>("present"); // whole lines
        QTest::addColumn<QByteArrayList>("absent");  // parts of lines

        HostMetrics fresh;
        fresh.host = QStringLiteral("gw.lan");
        fresh.ip = QStringLiteral("gw.lan");
        fresh.name = QStringLiteral("gw");
        QTest::newRow("never probed")
            << fresh
            << QByteArrayList{R"(smokeping_requests_total{host="gw.lan",ip="gw.lan",source="s"} 0)",
                              R"(smokeping_response_duration_seconds_bucket{host="gw.lan",ip="gw.lan",source="s",le="+Inf"} 0)",
                              R"(tivane_host_state{host="gw.lan",ip="gw.lan",state="unknown"} 1)",
                              R"(tivane_host_info{host="gw.lan",ip="gw.lan",name="gw"} 1)",
                              "tivane_list_load_errors_total 3"}
            << QByteArrayList{"tivane_host_up{", "tivane_host_last_change_timestamp_seconds{", "tivane_status_total{"};

        HostMetrics up = fresh;
        up.ip = QStringLiteral("10.0.0.1");
        up.requests = 3;
        up.sendErrors = 1;
        up.addReply(40);      // 4e-05 s: the first bucket
        up.addReply(100);     // exactly on 0.0001
        up.addReply(3000000); // 3 s
        up.statuses = {{0, 3}, {-1, 1}};
        up.state = monitor::HostState::Up;
        up.stateSinceMs = 1700000000123;
        up.labels = {{QStringLiteral("site"), QStringLiteral("a\\b\"c\nd")}};
        QTest::newRow("up, labels escaped")
            << up
            << QByteArrayList{R"(smokeping_response_duration_seconds_bucket{host="gw.lan",ip="10.0.0.1",source="s",le="5e-05"} 1)",
                              R"(smokeping_response_duration_seconds_bucket{host="gw.lan",ip="10.0.0.1",source="s",le="0.0001"} 2)",
                              R"(smokeping_response_duration_seconds_bucket{host="gw.lan",ip="10.0.0.1",source="s",le="1.6384"} 2)",
                              R"(smokeping_response_duration_seconds_bucket{host="gw.lan",ip="10.0.0.1",source="s",le="3.2768"} 3)",
                              R"(smokeping_response_duration_seconds_bucket{host="gw.lan",ip="10.0.0.1",source="s",le="26.2144"} 3)",
                              R"(smokeping_response_duration_seconds_count{host="gw.lan",ip="10.0.0.1",source="s"} 3)",
                              R"(smokeping_response_duration_seconds_sum{host="gw.lan",ip="10.0.0.1",source="s"} 3.00014)",
                              R"(smokeping_send_errors_total{host="gw.lan",ip="10.0.0.1",source="s"} 1)",
                              "tivane_host_info{host=\"gw.lan\",ip=\"10.0.0.1\",name=\"gw\",site=\"a\\\\b\\\"c\\nd\"} "
                              "1",
                              R"(tivane_host_up{host="gw.lan",ip="10.0.0.1"} 1)",
                              R"(tivane_host_state{host="gw.lan",ip="10.0.0.1",state="up"} 1)",
                              R"(tivane_host_state{host="gw.lan",ip="10.0.0.1",state="down"} 0)",
                              R"(tivane_host_last_change_timestamp_seconds{host="gw.lan",ip="10.0.0.1"} 1700000000.123)",
                              R"(tivane_status_total{host="gw.lan",ip="10.0.0.1",status="-1"} 1)",
                              R"(tivane_status_total{host="gw.lan",ip="10.0.0.1",status="0"} 3)"}
            << QByteArrayList{};

        HostMetrics down = fresh;
        down.state = monitor::HostState::Down;
        down.stateSinceMs = 1000;
        down.name = QStringLiteral("q\"uote");
        QTest::newRow("down") << down
                              << QByteArrayList{R"(tivane_host_up{host="gw.lan",ip="gw.lan"} 0)",
                                                "tivane_host_info{host=\"gw.lan\",ip=\"gw.lan\",name=\"q\\\"uote\"} 1",
                                                R"(tivane_host_state{host="gw.lan",ip="gw.lan",state="down"} 1)"}
                              << QByteArrayList{};

        // Degraded is up but not well: not up for alert rules, and a state of its own.
        HostMetrics degraded = fresh;
        degraded.state = monitor::HostState::Degraded;
        degraded.stateSinceMs = 1000;
        QTest::newRow("degraded")
            << degraded
            << QByteArrayList{R"(tivane_host_up{host="gw.lan",ip="gw.lan"} 0)",
                              R"(tivane_host_state{host="gw.lan",ip="gw.lan",state="degraded"} 1)",
                              R"(tivane_host_state{host="gw.lan",ip="gw.lan",state="up"} 0)"}
            << QByteArrayList{};
    }
    void render()
    {
        QFETCH(HostMetrics, host);
        QFETCH(QByteArrayList, present);
        QFETCH(QByteArrayList, absent);
        const QByteArray text = headless::renderMetrics({host}, QStringLiteral("s"), 3);
        const QByteArrayList lines = text.split('\n');
        for (const QByteArray& line : present)
            QVERIFY2(lines.contains(line), line.constData());
        for (const QByteArray& part : absent)
            QVERIFY2(!text.contains(part), part.constData());
        // Every family is described once, before its samples.
        QCOMPARE(text.count("# TYPE "), 9);
        QVERIFY(text.endsWith('\n'));
    }

    void bucketBounds()
    {
        QCOMPARE(headless::rttBucketBound(0), 5e-05);
        QCOMPARE(headless::rttBucketBound(headless::RttBucketCount - 1), 26.2144);
        QCOMPARE(headless::rttBucketOf(30000000), headless::RttBucketCount);
    }

    // The monitor over a scripted prober: counters, the JSON view, the answers by path, and a
    // change of hosts that keeps what stays.
    void monitorAnswers()
    {
        ScriptedProber prober;
        prober.set(QStringLiteral("10.0.0.2"), 11010);
        headless::MonitorOptions options;
        options.intervalMs = 50;
        headless::HeadlessMonitor monitor(prober, options);
        monitor.setTargets({{QStringLiteral("one"), QStringLiteral("10.0.0.1"), {}},
                            {QStringLiteral("two"), QStringLiteral("10.0.0.2"), {}}});
        QCOMPARE(monitor.answer("GET", QStringLiteral("/-/healthy")).status, 503);
        monitor.start();
        QTRY_VERIFY(monitor.stats().stats(2) && monitor.stats().stats(2)->sent >= 3);
        QCOMPARE(monitor.answer("GET", QStringLiteral("/-/healthy")).status, 200);

        const struct
        {
            const char* method;
            const char* path;
            int status;
            const char* type;
        } routes[] = {
            {"GET", "/metrics", 200, headless::MetricsContentType},
            {"GET", "/api/v1/hosts", 200, "application/json"},
            {"GET", "/", 404, "text/plain; charset=utf-8"},
            {"GET", "/metrics/", 404, "text/plain; charset=utf-8"},
            {"OTHER", "/metrics", 404, "text/plain; charset=utf-8"},
        };
        for (const auto& r : routes) {
            const headless::HttpReply reply = monitor.answer(r.method, QString::fromLatin1(r.path));
            QCOMPARE(reply.status, r.status);
            QCOMPARE(reply.contentType, QByteArray(r.type));
        }

        const QJsonArray hosts =
            QJsonDocument::fromJson(monitor.hostsJson()).object().value(QStringLiteral("hosts")).toArray();
        QCOMPARE(hosts.size(), 2);
        QCOMPARE(hosts[0][QStringLiteral("state")].toString(), QStringLiteral("up"));
        QCOMPARE(hosts[0][QStringLiteral("loss")].toDouble(), 0.0);
        QCOMPARE(hosts[1][QStringLiteral("state")].toString(), QStringLiteral("down"));
        QCOMPARE(hosts[1][QStringLiteral("last_status")].toInt(), 11010);
        QVERIFY(hosts[1][QStringLiteral("min_ms")].isNull());

        const quint64 sentBefore = monitor.stats().stats(1)->sent;
        const auto changes = monitor.setTargets({{QStringLiteral("renamed"), QStringLiteral("10.0.0.1"), {}},
                                                 {QStringLiteral("three"), QStringLiteral("10.0.0.3"), {}}});
        QCOMPARE(changes.kept, 1);
        QCOMPARE(changes.removed, QVector<quint64>{2});
        QCOMPARE(changes.added.size(), 1);
        QVERIFY(monitor.stats().stats(1)->sent >= sentBefore);
        QCOMPARE(monitor.stats().stats(1)->name, QStringLiteral("renamed"));
        QVERIFY(!monitor.metricsText().contains("10.0.0.2"));
        QTRY_VERIFY(monitor.stats().stats(3) && monitor.stats().stats(3)->sent >= 1);
    }

    // The page is kept between scrapes and rendered again only after a change: it is always what
    // a fresh rendering of the present state gives.
    void pageKept_data()
    {
        using Change = std::function<void(headless::HeadlessMonitor&)>;
        QTest::addColumn<Change>("change");
        QTest::addColumn<bool>("rendered"); // false: the very bytes handed out before
        QTest::newRow("nothing") << Change([](headless::HeadlessMonitor&) {}) << false;
        QTest::newRow("a sweep later") << Change([](headless::HeadlessMonitor& m) {
            const quint64 sent = m.stats().stats(1)->sent;
            QTRY_VERIFY(m.stats().stats(1)->sent > sent);
        }) << true;
        QTest::newRow("list load error") << Change([](headless::HeadlessMonitor& m) { m.countLoadError(); }) << true;
        QTest::newRow("host renamed") << Change([](headless::HeadlessMonitor& m) {
            m.setTargets({{QStringLiteral("renamed"), QStringLiteral("10.0.0.1"), {}}});
        }) << true;
    }
    void pageKept()
    {
        using Change = std::function<void(headless::HeadlessMonitor&)>;
        QFETCH(Change, change);
        QFETCH(bool, rendered);
        ScriptedProber prober;
        headless::MonitorOptions options;
        options.intervalMs = 100;
        options.source = QStringLiteral("s");
        headless::HeadlessMonitor monitor(prober, options);
        monitor.setTargets({{QStringLiteral("one"), QStringLiteral("10.0.0.1"), {}}});
        monitor.start();
        QTRY_VERIFY(monitor.stats().stats(1) && monitor.stats().stats(1)->sent >= 1);

        const QByteArray before = monitor.metricsText();
        change(monitor);
        const QByteArray after = monitor.metricsText();
        QCOMPARE(after.constData() != before.constData(), rendered);
        QCOMPARE(after, headless::renderMetrics(monitor.snapshot(), options.source, monitor.loadErrors()));
    }
};

QTEST_GUILESS_MAIN(TestMetrics)
#include "tst_headless_metrics.moc"
