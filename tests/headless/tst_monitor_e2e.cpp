// tivane-monitor as people run it: in a namespace of its own with an answering, a silent and a
// flapping host, scraped every second by a real Prometheus in the same namespace, which is then
// asked for each host's loss and state. Also: the scrape passes promtool's check, SIGHUP takes an
// edited list (and keeps the hosts on a bad one), SIGTERM ends it within 2 s.
#include "tests/probe/netlab.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

namespace {
const QString kAnswering = lab::kProber; // the prober's own address: its kernel answers
const QString kSilent = lab::kSilentHost;
const QString kFlapping = lab::kRouter; // the router, told to ignore echoes every few seconds
} // namespace

class TestMonitorE2e : public QObject
{
    Q_OBJECT

    std::unique_ptr<NetLab> m_lab;
    QTemporaryDir m_dir;
    QProcess m_monitor;
    QProcess m_prometheus;

    QStringList inLab(const QStringList& command) const
    {
        return QStringList{QStringLiteral("netns"), QStringLiteral("exec"), m_lab->name(QStringLiteral("P"))} + command;
    }
    // Runs a command in the prober's namespace and gives its output.
    QByteArray run(const QStringList& command, int* exitCode = nullptr, const QByteArray& input = {})
    {
        QProcess p;
        p.start(QStringLiteral("ip"), inLab(command));
        p.write(input);
        p.closeWriteChannel();
        p.waitForFinished(15000);
        if (exitCode)
            *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        return p.readAllStandardOutput() + p.readAllStandardError();
    }
    QByteArray fetch(const QString& path)
    {
        return run({QStringLiteral("curl"), QStringLiteral("-sf"), QStringLiteral("http://127.0.0.1:9374") + path});
    }
    // Per host, the value of an instant query.
    QHash<QString, double> query(const QString& expr)
    {
        const QByteArray out =
            run({QStringLiteral("promtool"), QStringLiteral("query"), QStringLiteral("instant"), QStringLiteral("-o"),
                 QStringLiteral("json"), QStringLiteral("http://127.0.0.1:9090"), expr});
        QHash<QString, double> values;
        const QJsonArray result = QJsonDocument::fromJson(out).array();
        for (const QJsonValue& r : result) {
            const QString host = r[QStringLiteral("metric")][QStringLiteral("host")].toString();
            values.insert(host, r[QStringLiteral("value")].toArray().at(1).toString().toDouble());
        }
        return values;
    }
    QJsonArray hosts()
    {
        return QJsonDocument::fromJson(fetch(QStringLiteral("/api/v1/hosts")))
            .object()[QStringLiteral("hosts")]
            .toArray();
    }
    void writeList(const QByteArray& text)
    {
        QFile f(m_dir.filePath(QStringLiteral("list.txt")));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }

private Q_SLOTS:
    void initTestCase()
    {
        const QString why = NetLab::unavailableReason();
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        for (const char* tool : {"prometheus", "promtool", "curl"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed (scripts/deps.sh --test installs it)")
                                     .arg(QLatin1String(tool))));
        }
        m_lab = std::make_unique<NetLab>(QStringLiteral("mon"));
        QVERIFY2(m_lab->buildProbeNetwork(), qPrintable(m_lab->error()));
    }
    void cleanupTestCase()
    {
        for (QProcess* p : {&m_monitor, &m_prometheus}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(3000);
            }
        }
        m_lab.reset();
    }

    void prometheusSeesLossAndState()
    {
        writeList(QStringLiteral("1|answering|%1\n1|silent|%2\n1|flapping|%3\n")
                      .arg(kAnswering, kSilent, kFlapping)
                      .toUtf8());
        m_monitor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_monitor.start(QStringLiteral("ip"), inLab({QStringLiteral(TIVANE_MONITOR), QStringLiteral("--list"),
                                                     m_dir.filePath(QStringLiteral("list.txt"))}));
        QVERIFY(m_monitor.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(fetch(QStringLiteral("/-/healthy")).startsWith("Healthy"), 10000);

        QFile config(m_dir.filePath(QStringLiteral("prometheus.yml")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(
            "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
            "scrape_configs:\n  - job_name: tivane\n    static_configs:\n      - targets: ['127.0.0.1:9374']\n");
        config.close();
        m_prometheus.setProcessChannelMode(QProcess::SeparateChannels);
        m_prometheus.start(QStringLiteral("ip"),
                           inLab({QStringLiteral("prometheus"), QStringLiteral("--config.file=") + config.fileName(),
                                  QStringLiteral("--storage.tsdb.path=") + m_dir.filePath(QStringLiteral("data")),
                                  QStringLiteral("--web.listen-address=127.0.0.1:9090")}));
        QVERIFY(m_prometheus.waitForStarted());

        // The router ignores echoes for 4 s in every 8: long enough for 3 failures in a row.
        bool ignoring = false;
        QTimer flap;
        connect(&flap, &QTimer::timeout, this, [&] {
            ignoring = !ignoring;
            m_lab->sysctl(QStringLiteral("R"),
                          {QStringLiteral("net.ipv4.icmp_echo_ignore_all=%1").arg(ignoring ? 1 : 0)});
        });
        flap.start(4000);

        const QString loss = QStringLiteral("1 - increase(smokeping_response_duration_seconds_count[30s]) / "
                                            "increase(smokeping_requests_total[30s])");
        QHash<QString, double> losses;
        QElapsedTimer clock;
        clock.start();
        // Two whole flaps, and samples of every host in Prometheus.
        while (clock.elapsed() < 60000) {
            QTest::qWait(1000);
            losses = query(loss);
            if (clock.elapsed() > 18000 && losses.size() == 3)
                break;
        }
        flap.stop();
        m_lab->sysctl(QStringLiteral("R"), {QStringLiteral("net.ipv4.icmp_echo_ignore_all=0")});
        QCOMPARE(losses.size(), 3);
        QCOMPARE(losses.value(kAnswering), 0.0);
        QCOMPARE(losses.value(kSilent), 1.0);
        QVERIFY2(losses.value(kFlapping) > 0.1 && losses.value(kFlapping) < 0.9,
                 qPrintable(QString::number(losses.value(kFlapping))));

        const QHash<QString, double> up = query(QStringLiteral("tivane_host_state{state=\"up\"}"));
        QCOMPARE(up.value(kAnswering), 1.0);
        QCOMPARE(up.value(kSilent), 0.0);
        QCOMPARE(query(QStringLiteral("tivane_host_state{state=\"down\"}")).value(kSilent), 1.0);
        QVERIFY(query(QStringLiteral("changes(tivane_host_up[1m])")).value(kFlapping) >= 1.0);
    }

    void scrapePassesPromtool()
    {
        const QByteArray scrape = fetch(QStringLiteral("/metrics"));
        QVERIFY(scrape.contains("smokeping_requests_total{"));
        int exitCode = -1;
        const QByteArray out =
            run({QStringLiteral("promtool"), QStringLiteral("check"), QStringLiteral("metrics")}, &exitCode, scrape);
        QVERIFY2(exitCode == 0, out.constData());
    }

    void hangUpRereadsTheList()
    {
        auto sentOf = [&](const QString& address) {
            for (const QJsonValue& h : hosts())
                if (h[QStringLiteral("address")].toString() == address)
                    return h[QStringLiteral("sent")].toDouble();
            return -1.0;
        };
        const double before = sentOf(kAnswering);
        QVERIFY(before > 5);
        writeList(QStringLiteral("1|answering|%1\n1|flapping|%2\n1|loopback|127.0.0.1\n")
                      .arg(kAnswering, kFlapping)
                      .toUtf8());
        QCOMPARE(::kill(pid_t(m_monitor.processId()), SIGHUP), 0);
        QTRY_VERIFY_WITH_TIMEOUT(sentOf(QStringLiteral("127.0.0.1")) >= 1, 5000);
        QCOMPARE(sentOf(kSilent), -1.0);
        QVERIFY(sentOf(kAnswering) >= before);

        writeList("this is not a list\n");
        QCOMPARE(::kill(pid_t(m_monitor.processId()), SIGHUP), 0);
        QTRY_VERIFY_WITH_TIMEOUT(fetch(QStringLiteral("/metrics")).contains("\ntivane_list_load_errors_total 1\n"),
                                 5000);
        QCOMPARE(hosts().size(), 3);
    }

    void terminateEndsWithinTwoSeconds()
    {
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(::kill(pid_t(m_monitor.processId()), SIGTERM), 0);
        QVERIFY(m_monitor.waitForFinished(2000));
        QVERIFY(clock.elapsed() < 2000);
        QCOMPARE(m_monitor.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_monitor.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestMonitorE2e)
#include "tst_monitor_e2e.moc"
