// Target files are written by others: every fault refuses the whole file with a reason.
#include "headless/targets.h"

#include <QTemporaryDir>
#include <QTest>

using headless::TargetFormat;

class TestTargets : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArrayList>("addresses"); // expected, when error is empty
        QTest::addColumn<QByteArray>("name0");
        QTest::addColumn<QByteArray>("error"); // a part of the reason
        const int json = int(TargetFormat::Json);
        const int yaml = int(TargetFormat::Yaml);
        QTest::newRow("json two groups") << json
                                         << QByteArray(
                                                R"([{"targets":["127.0.0.1","::1"],"labels":{"name":"lo","site":"a"}},)"
                                                R"({"targets":["localhost"]}])")
                                         << QByteArrayList{"127.0.0.1", "::1", "localhost"} << QByteArray("lo")
                                         << QByteArray("");
        QTest::newRow("yaml block") << yaml
                                    << QByteArray("- targets:\n    - 127.0.0.2\n  labels:\n    name: two\n    dc: x\n")
                                    << QByteArrayList{"127.0.0.2"} << QByteArray("two") << QByteArray("");
        QTest::newRow("yaml flow") << yaml << QByteArray(R"([{targets: [127.0.0.3]}])") << QByteArrayList{"127.0.0.3"}
                                   << QByteArray("127.0.0.3") << QByteArray("");
        QTest::newRow("empty json") << json << QByteArray(" \n") << QByteArrayList{} << QByteArray("")
                                    << QByteArray("");
        QTest::newRow("empty yaml") << yaml << QByteArray("") << QByteArrayList{} << QByteArray("") << QByteArray("");
        QTest::newRow("meta label left out")
            << json << QByteArray(R"([{"targets":["127.0.0.1"],"labels":{"__x":"y"}}])") << QByteArrayList{"127.0.0.1"}
            << QByteArray("127.0.0.1") << QByteArray("");
        QTest::newRow("not json") << json << QByteArray("[{") << QByteArrayList{} << QByteArray("")
                                  << QByteArray("not JSON");
        QTest::newRow("not yaml") << yaml << QByteArray("- targets: [\n") << QByteArrayList{} << QByteArray("")
                                  << QByteArray("not YAML");
        QTest::newRow("object at top") << json << QByteArray(R"({"targets":[]})") << QByteArrayList{} << QByteArray("")
                                       << QByteArray("list of target groups");
        QTest::newRow("targets missing") << json << QByteArray(R"([{"labels":{}}])") << QByteArrayList{}
                                         << QByteArray("") << QByteArray("\"targets\" is missing");
        QTest::newRow("number target") << json << QByteArray(R"([{"targets":[1]}])") << QByteArrayList{}
                                       << QByteArray("") << QByteArray("not text");
        QTest::newRow("number label") << json << QByteArray(R"([{"targets":["::1"],"labels":{"a":1}}])")
                                      << QByteArrayList{} << QByteArray("") << QByteArray("not text");
        QTest::newRow("bad label name") << json << QByteArray(R"([{"targets":["::1"],"labels":{"a-b":"x"}}])")
                                        << QByteArrayList{} << QByteArray("") << QByteArray("not a label name");
        QTest::newRow("reserved label") << json << QByteArray(R"([{"targets":["::1"],"labels":{"host":"x"}}])")
                                        << QByteArrayList{} << QByteArray("") << QByteArray("set by tivane-monitor");
        QTest::newRow("unknown field") << yaml << QByteArray("- targets: [::1]\n  other: 1\n") << QByteArrayList{}
                                       << QByteArray("") << QByteArray("unknown field");
        QTest::newRow("bad address") << json << QByteArray(R"([{"targets":["10.0.0.300"]}])") << QByteArrayList{}
                                     << QByteArray("") << QByteArray("10.0.0.300");
        QTest::newRow("port in target") << json << QByteArray(R"([{"targets":["host:80"]}])") << QByteArrayList{}
                                        << QByteArray("") << QByteArray("host:80");
        QTest::newRow("deep json") << json << (QByteArray(100000, '[') + QByteArray(100000, ']')) << QByteArrayList{}
                                   << QByteArray("") << QByteArray("");
        QTest::newRow("deep yaml") << yaml << (QByteArray(5000, '[') + QByteArray(5000, ']')) << QByteArrayList{}
                                   << QByteArray("") << QByteArray("");
        QTest::newRow("yaml alias bomb")
            << yaml
            << QByteArray(
                   "a: &a [x,x,x,x,x,x,x,x,x]\nb: &b [*a,*a,*a,*a,*a,*a,*a,*a,*a]\nc: &c [*b,*b,*b,*b,*b,*b,*b,*b,*b]\n"
                   "d: &d [*c,*c,*c,*c,*c,*c,*c,*c,*c]\ne: &e [*d,*d,*d,*d,*d,*d,*d,*d,*d]\n"
                   "f: &f [*e,*e,*e,*e,*e,*e,*e,*e,*e]\ng: &g [*f,*f,*f,*f,*f,*f,*f,*f,*f]\n")
            << QByteArrayList{} << QByteArray("") << QByteArray("too many values");
        QTest::newRow("oversized") << json << QByteArray(headless::MaxFileBytes + 1, ' ') << QByteArrayList{}
                                   << QByteArray("") << QByteArray("larger than");
    }
    void parse()
    {
        QFETCH(int, format);
        QFETCH(QByteArray, input);
        QFETCH(QByteArrayList, addresses);
        QFETCH(QByteArray, name0);
        QFETCH(QByteArray, error);
        const headless::ParsedTargets parsed = headless::parseTargetFile(input, TargetFormat(format));
        if (QByteArray(QTest::currentDataTag()).startsWith("deep")) {
            // Either refused or read as an empty list of nothing useful, but never a crash.
            QVERIFY(!parsed.error.isEmpty());
            return;
        }
        QVERIFY2(parsed.error.contains(QString::fromUtf8(error)), qPrintable(parsed.error));
        if (!error.isEmpty()) {
            QVERIFY(parsed.targets.isEmpty());
            return;
        }
        QByteArrayList got;
        for (const headless::Target& t : parsed.targets)
            got.append(t.address.toUtf8());
        QCOMPARE(got, addresses);
        if (!addresses.isEmpty())
            QCOMPARE(parsed.targets[0].name, QString::fromUtf8(name0));
    }

    void labelsKept()
    {
        const auto parsed = headless::parseTargetFile(
            "[{\"targets\":[\"::1\"],\"labels\":{\"name\":\"n\",\"site\":\"a\\\"b\"}}]", TargetFormat::Json);
        QCOMPARE(parsed.targets.size(), 1);
        QCOMPARE(parsed.targets[0].labels, (QMap<QString, QString>{{QStringLiteral("site"), QStringLiteral("a\"b")}}));
    }

    // Lists and target files together: duplicates warned about, one bad file refuses the load.
    void loadHosts()
    {
        QTemporaryDir dir;
        auto write = [&](const QString& name, const QByteArray& data) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(data);
        };
        write(QStringLiteral("list.txt"), "1|one|127.0.0.1\r\n3|two|127.0.0.2\n");
        write(QStringLiteral("t.json"), R"([{"targets":["127.0.0.2","127.0.0.3"]}])");
        write(QStringLiteral("bad.txt"), "1|one|127.0.0.1\nnot a line\n");
        auto good =
            headless::loadHosts({dir.filePath(QStringLiteral("list.txt"))}, {dir.filePath(QStringLiteral("t.json"))});
        QVERIFY(good.errors.isEmpty());
        QCOMPARE(good.targets.size(), 3);
        QCOMPARE(good.targets[1].name, QStringLiteral("two"));
        QCOMPARE(good.warnings.size(), 1);

        auto bad =
            headless::loadHosts({dir.filePath(QStringLiteral("list.txt")), dir.filePath(QStringLiteral("bad.txt")),
                                 dir.filePath(QStringLiteral("missing.txt"))},
                                {dir.filePath(QStringLiteral("t.txt"))});
        QCOMPARE(bad.errors.size(), 3);
        QVERIFY2(bad.errors[0].contains(QStringLiteral("bad.txt:2")), qPrintable(bad.errors[0]));
        QVERIFY(bad.targets.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTargets)
#include "tst_headless_targets.moc"
