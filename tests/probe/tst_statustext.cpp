#include "probe/mdlping.h"

#include <QTest>

#include <limits>

class tst_StatusText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void texts_data();
    void texts();
};

void tst_StatusText::texts_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");

    const struct
    {
        int status;
        const char* text;
    } known[] = {
        {0, "Success!"},
        {11001, "Buffer Too Small"},
        {11002, "Destination Net Unreachable"},
        {11003, "Destination Host Unreachable"},
        {11004, "Destination Protocol Unreachable"},
        {11005, "Destination Port Unreachable"},
        {11006, "No Resources"},
        {11007, "Bad Option"},
        {11008, "Hardware Error"},
        {11009, "Packet Too Big"},
        {11010, "Request Timed Out"},
        {11011, "Bad Request"},
        {11012, "Bad Route"},
        {11013, "TimeToLive Expired Transit"},
        {11014, "TimeToLive Expired Reassembly"},
        {11015, "Parameter Problem"},
        {11016, "Source Quench"},
        {11017, "Option Too Big"},
        {11018, "Bad Destination"},
        {11032, "Negotiating IPSEC"},
        {11050, "General Failure"},
    };
    for (const auto& k : known)
        QTest::addRow("%d", k.status) << k.status << QString::fromLatin1(k.text);

    // Codes between and around the known ones have no text of their own.
    const int unknown[] = {-1,
                           1,
                           10999,
                           11000,
                           11019,
                           11020,
                           11025,
                           11031,
                           11033,
                           11040,
                           11049,
                           11051,
                           11100,
                           12000,
                           std::numeric_limits<int>::min(),
                           std::numeric_limits<int>::max()};
    for (const int status : unknown)
        QTest::addRow("unknown %d", status) << status << QStringLiteral("Unknown Response");
}

void tst_StatusText::texts()
{
    QFETCH(int, status);
    QFETCH(QString, text);
    QCOMPARE(mdlPing::GetStatusText(status), text);
}

QTEST_GUILESS_MAIN(tst_StatusText)
#include "tst_statustext.moc"
