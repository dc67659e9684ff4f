#include "controls/cmdbtn/propertybag.h"

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <limits>

// What a typed read made of the stored value, as text, or "refused" when it threw.
using Reader = std::function<QString(const PropertyBag&, const QString&)>;
Q_DECLARE_METATYPE(Reader)

namespace {

const auto Key = QStringLiteral("Value");

QString attempt(const QString& key, const std::function<QString()>& read)
{
    try {
        return read();
    } catch (const PropertyBagError& error) {
        return error.key() == key ? QStringLiteral("refused") : QStringLiteral("refused, wrong key");
    }
}

const Reader int32 = [](const PropertyBag& bag, const QString& key) {
    return attempt(key, [&] { return QString::number(bag.readInt32(key, -7)); });
};
const Reader color = [](const PropertyBag& bag, const QString& key) {
    return attempt(key, [&] { return QString::number(bag.readColor(key, 7), 16); });
};
const Reader truth = [](const PropertyBag& bag, const QString& key) {
    return attempt(key, [&] { return bag.readBool(key, true) ? QStringLiteral("true") : QStringLiteral("false"); });
};
const Reader whole = [](const PropertyBag& bag, const QString& key) {
    return attempt(key, [&] { return QString::number(bag.readWholeNumber(key, -7), 'g', 17); });
};
const Reader text = [](const PropertyBag& bag, const QString& key) {
    return attempt(key, [&] { return bag.readText(key, QStringLiteral("default")); });
};
const Reader font = [](const PropertyBag& bag, const QString& key) {
    return attempt(key, [&] { return bag.readFont(key, QFont(QStringLiteral("Default"), 5)).family(); });
};

QByteArray png(QSize size)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

class TestPropertyBag : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void typedReads_data();
    void typedReads();
    void pictures();
};

// Saved bags may be hand-edited: junk must be refused, never read as zero or as the default.
void TestPropertyBag::typedReads_data()
{
    QTest::addColumn<Reader>("reader");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("expected");

    QTest::newRow("missing key gives the default") << int32 << QVariant() << QStringLiteral("-7");
    QTest::newRow("int32 number") << int32 << QVariant(42) << QStringLiteral("42");
    QTest::newRow("int32 text with spaces") << int32 << QVariant(QStringLiteral(" -42 ")) << QStringLiteral("-42");
    QTest::newRow("int32 whole double") << int32 << QVariant(3.0) << QStringLiteral("3");
    QTest::newRow("int32 fraction") << int32 << QVariant(2.5) << QStringLiteral("refused");
    QTest::newRow("int32 word") << int32 << QVariant(QStringLiteral("two")) << QStringLiteral("refused");
    QTest::newRow("int32 empty text") << int32 << QVariant(QString()) << QStringLiteral("refused");
    QTest::newRow("int32 beyond 32 bits") << int32 << QVariant(qint64(1) << 31) << QStringLiteral("refused");
    QTest::newRow("int32 smallest") << int32 << QVariant(std::numeric_limits<qint32>::min())
                                    << QStringLiteral("-2147483648");
    QTest::newRow("int32 infinity") << int32 << QVariant(std::numeric_limits<double>::infinity())
                                    << QStringLiteral("refused");
    QTest::newRow("int32 not a number") << int32 << QVariant(std::numeric_limits<double>::quiet_NaN())
                                        << QStringLiteral("refused");
    QTest::newRow("int32 a list") << int32 << QVariant(QStringList{QStringLiteral("1")}) << QStringLiteral("refused");

    QTest::newRow("colour negative system colour")
        << color << QVariant(qint32(0x8000000F)) << QStringLiteral("8000000f");
    QTest::newRow("colour unsigned") << color << QVariant(0xFFFFFFFFu) << QStringLiteral("ffffffff");
    QTest::newRow("colour beyond 32 bits") << color << QVariant(qint64(1) << 32) << QStringLiteral("refused");
    QTest::newRow("colour below signed 32 bits")
        << color << QVariant(qint64(std::numeric_limits<qint32>::min()) - 1) << QStringLiteral("refused");
    QTest::newRow("colour name") << color << QVariant(QStringLiteral("red")) << QStringLiteral("refused");

    QTest::newRow("bool stored") << truth << QVariant(false) << QStringLiteral("false");
    QTest::newRow("bool text any case") << truth << QVariant(QStringLiteral(" FALSE")) << QStringLiteral("false");
    QTest::newRow("bool zero") << truth << QVariant(0) << QStringLiteral("false");
    QTest::newRow("bool minus one") << truth << QVariant(-1) << QStringLiteral("true");
    QTest::newRow("bool word") << truth << QVariant(QStringLiteral("maybe")) << QStringLiteral("refused");
    QTest::newRow("bool fraction") << truth << QVariant(0.5) << QStringLiteral("refused");

    QTest::newRow("whole number beyond 64 bits")
        << whole << QVariant(1e300) << QStringLiteral("1.0000000000000001e+300");
    QTest::newRow("whole number largest 64-bit")
        << whole << QVariant(std::numeric_limits<qint64>::max()) << QStringLiteral("9.2233720368547758e+18");
    QTest::newRow("whole number as text") << whole << QVariant(QStringLiteral("2355")) << QStringLiteral("2355");
    QTest::newRow("whole number fraction") << whole << QVariant(0.5) << QStringLiteral("refused");
    QTest::newRow("whole number infinity")
        << whole << QVariant(-std::numeric_limits<double>::infinity()) << QStringLiteral("refused");

    QTest::newRow("text") << text << QVariant(QStringLiteral("Go")) << QStringLiteral("Go");
    QTest::newRow("text from a number") << text << QVariant(12) << QStringLiteral("12");
    QTest::newRow("text from a point") << text << QVariant(QPointF(1, 2)) << QStringLiteral("refused");

    QTest::newRow("font description") << font << QVariant(QFont(QStringLiteral("DejaVu Serif"), 9).toString())
                                      << QStringLiteral("DejaVu Serif");
    QTest::newRow("font kept as a font") << font << QVariant(QFont(QStringLiteral("DejaVu Sans"), 9))
                                         << QStringLiteral("DejaVu Sans");
    QTest::newRow("font junk") << font << QVariant(QStringLiteral("Serif,x,y,z")) << QStringLiteral("refused");
    QTest::newRow("font a number") << font << QVariant(9) << QStringLiteral("refused");
}

void TestPropertyBag::typedReads()
{
    QFETCH(Reader, reader);
    QFETCH(QVariant, stored);
    QFETCH(QString, expected);
    PropertyBag bag;
    bag.write(QStringLiteral("Other"), 1);
    if (stored.isValid())
        bag.write(Key, stored);
    QCOMPARE(reader(bag, QStringLiteral("VALUE")), expected);
}

void TestPropertyBag::pictures()
{
    const auto read = [](const QVariant& stored) {
        PropertyBag bag;
        bag.write(Key, stored);
        return bag.readPicture(Key);
    };
    // An icon has no size of its own here; it reads as none.
    const auto pixmapSize = [](const std::variant<QIcon, QPixmap>& picture) {
        const auto* pixmap = std::get_if<QPixmap>(&picture);
        return pixmap && !pixmap->isNull() ? pixmap->size() : QSize();
    };

    QVERIFY(std::get<QIcon>(PropertyBag().readPicture(Key)).isNull());
    QCOMPARE(pixmapSize(read(png({20, 10}))), QSize(20, 10));
    QCOMPARE(pixmapSize(read(QImage(7, 5, QImage::Format_RGB32))), QSize(7, 5));
    QVERIFY(std::get<QPixmap>(read(QByteArray(""))).isNull());
    QVERIFY(std::get<QPixmap>(read(QStringLiteral(""))).isNull());
    QIcon icon;
    icon.addPixmap(QPixmap(16, 16));
    QCOMPARE(std::get<QIcon>(read(icon)).availableSizes(), QList<QSize>{QSize(16, 16)});

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("picture.png"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(png({3, 4})) > 0);
    }
    QCOMPARE(pixmapSize(read(path)), QSize(3, 4));

    QVERIFY_THROWS_EXCEPTION(PropertyBagError, read(QByteArray("GIF89a but not really")));
    QVERIFY_THROWS_EXCEPTION(PropertyBagError, read(png({20, 10}).left(40)));
    QVERIFY_THROWS_EXCEPTION(PropertyBagError, read(dir.filePath(QStringLiteral("missing.png"))));
    QVERIFY_THROWS_EXCEPTION(PropertyBagError, read(42));
}

QTEST_MAIN(TestPropertyBag)
#include "tst_propertybag.moc"
