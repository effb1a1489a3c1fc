#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "posspreadsheet.h"

Q_DECLARE_METATYPE(QList<uint>)

// The POS table reader on the tables the POS download writes and on malformed ones.
// Runs with TZ=CST-8, so "2019-03-28 10:00:00" local is 1553738400.
class TestPosSpreadsheet : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void layouts_data();
    void layouts();
    void missingFile();
    void threadHandsOverOnce();

private:
    QString write(const QByteArray &content, const QString &name = QStringLiteral("pos.xls"));
    QTemporaryDir m_dir;
};

namespace {
const uint kTen = 1553738400; // 2019-03-28 10:00:00 in UTC+8

// Header and rows exactly as the POS download writes its per-camera tables.
const QByteArray kShortHeader =
    "ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\t \n";

QByteArray shortRow(int id, const char *lon, const char *lat, const char *alt, const char *time)
{
    return QByteArray::number(id) + " \t" + lon + " \t" + lat + " \t" + alt +
           " \t90.00 \t1.0 \t2.0 \t90.00 \t25.0 \t" + time + " \t \n";
}

QString points(const QList<PosPoint> &list)
{
    QStringList out;
    for (const PosPoint &p : list)
        out << QStringLiteral("%1 %2 %3")
                   .arg(p.x, 0, 'f', 7)
                   .arg(p.y, 0, 'f', 7)
                   .arg(p.z, 0, 'f', 3);
    return out.join(QLatin1String("; "));
}
} // namespace

QString TestPosSpreadsheet::write(const QByteArray &content, const QString &name)
{
    QFile f(m_dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        return {};
    return f.fileName();
}

void TestPosSpreadsheet::layouts_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("positions");
    QTest::addColumn<QList<uint>>("times");

    QTest::newRow("per-camera table, short layout")
        << kShortHeader +
               shortRow(1, "112.6000000", "23.4463420", "100.000", "2019-03-28 10-00-00") +
               shortRow(2, "-112.6000001", "-23.4463421", "-5.500", "2019-03-28 10-00-02")
        << 3 << "112.6000000 23.4463420 100.000; -112.6000001 -23.4463421 -5.500"
        << QList<uint>{kTen, kTen + 2};

    QTest::newRow("header field found by substring")
        << QByteArray("ID Lon Lat Alt Heading Pitch Roll Psi_GPS Speed GPSTime\n") +
               shortRow(7, "1.5", "2.5", "3.5", "2019/03/28 10-00-05")
        << 2 << "1.5000000 2.5000000 3.500" << QList<uint>{kTen + 5};

    // Any other header count puts date and time in columns 15 and 16.
    QTest::newRow("long layout") << QByteArray("ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_"
                                               "GPS\tSpeed\tTime\toffset1\toffset2\n") +
                                        "3 \t10.0 \t20.0 \t30.0 \t0 \t0 \t0 \t0 \t0 \t0 \t0 \t0 "
                                        "\t0 \t0 \t2019/03/28 \t10-00-09 \t \n"
                                 << 2 << "10.0000000 20.0000000 30.000" << QList<uint>{kTen + 9};

    QTest::newRow("main table of five-lens records: offsets land in the time columns")
        << QByteArray(
               "ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\toffset1\toffset2"
               "\toffset3\toffset4\toffset5\t \n") +
               "1 \t112.6000000 \t23.4463420 \t100.000 \t90.00 \t1.0 \t2.0 \t90.00 \t25.0 \t"
               "2019-03-28 10-00-00 \t0 \t0 \t0 \t0 \t0 \t \n"
        << 2 << "112.6000000 23.4463420 100.000" << QList<uint>{MyExcelObject::InvalidTime};

    QTest::newRow("time that does not parse")
        << kShortHeader + shortRow(1, "1", "2", "3", "2019-13-45 10-00-00") << 2
        << "1.0000000 2.0000000 3.000" << QList<uint>{MyExcelObject::InvalidTime};

    QTest::newRow("fields cut at the first comma")
        << QByteArray("ID,x Lon Lat Alt Heading Pitch Roll Psi_GPS Speed Time\n"
                      "1,9 4.25,1 5.5 6 0 0 0 0 0 2019-03-28,x 10-00-01,y\n")
        << 7 << "4.2500000 5.5000000 6.000" << QList<uint>{kTen + 1};

    QTest::newRow("row without its time") << kShortHeader + "1 \t1.0 \t2.0 \t3.0 \n"
                                          << 2 << "1.0000000 2.0000000 3.000" << QList<uint>{};

    QTest::newRow("empty file") << QByteArray() << 0 << "" << QList<uint>{};
    QTest::newRow("header only") << kShortHeader << 1 << "" << QList<uint>{};
}

void TestPosSpreadsheet::layouts()
{
    QFETCH(QByteArray, content);
    QFETCH(int, count);
    QFETCH(QString, positions);
    QFETCH(QList<uint>, times);

    const QString path = write(content, QStringLiteral("飞行1.xls"));
    QVERIFY(!path.isEmpty());
    MyExcelObject object;
    PosSpreadsheet::read(path, &object);
    QCOMPARE(object.count, count);
    QCOMPARE(object.filePath, path);
    QCOMPARE(object.fileName, QStringLiteral("飞行1.xls"));
    QCOMPARE(points(object.posList), positions);
    QCOMPARE(object.timeList, times);
    QCOMPARE(object.reserved1, 0);
    QCOMPARE(object.reserved2, 0);
}

void TestPosSpreadsheet::missingFile()
{
    const QString path = m_dir.filePath(QStringLiteral("absent/none.xls"));
    MyExcelObject object;
    PosSpreadsheet::read(path, &object);
    QCOMPARE(object.count, 0);
    QVERIFY(object.posList.isEmpty());
    QVERIFY(object.timeList.isEmpty());
    QCOMPARE(object.filePath, path);
    QCOMPARE(object.fileName, QStringLiteral("none.xls"));
}

void TestPosSpreadsheet::threadHandsOverOnce()
{
    const QString path =
        write(kShortHeader + shortRow(1, "112.6", "23.4", "100.0", "2019-03-28 10-00-00"),
              QStringLiteral("thread.xls"));
    qRegisterMetaType<MyExcelObject *>();
    auto *thread = new MyReadExcelThread(path);
    QSignalSpy spy(thread, &MyReadExcelThread::newObject);
    thread->start();
    QVERIFY(spy.wait(10000));
    auto *object = spy.at(0).at(0).value<MyExcelObject *>();
    QVERIFY(object);
    QCOMPARE(object->count, 2);
    QCOMPARE(object->posList.size(), 1);
    QCOMPARE(object->timeList, QList<uint>{kTen});
    delete object;
    // The reader stays in its event loop until it is told to stop, and emits nothing more.
    QVERIFY(thread->isRunning());
    QTest::qWait(50);
    QCOMPARE(spy.count(), 1);
    delete thread;
}

QTEST_GUILESS_MAIN(TestPosSpreadsheet)
#include "tst_posspreadsheet.moc"
