#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "exifreader.h"
#include "photoinfotable.h"

// The per-camera photo information table, byte for byte, created and appended to.
// Runs with TZ=CST-8 so capture times are fixed numbers.
class TestPhotoInfoTable : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void createdThenAppended();
    void rowsAreOnDiskAfterEachRow();
    void openFailures();
    void captureTime_data();
    void captureTime();
    void rowOfDamagedValues();

private:
    QByteArray contents(const QString &path) const;
    QTemporaryDir m_dir;
    QString m_canon, m_kodak, m_wwl;
};

namespace {
const QByteArray kHeader = "照片路径,Model,make,focallength,width,height,time,\n";
const QByteArray kCanonRow = ",Canon EOS 40D,Canon,135,100,68,1212134161,2008:05:30 15:56:01\n";
const QByteArray kKodakRow = ",KODAK CX7530 ZOOM DIGITAL CAMERA,EASTMAN KODAK "
                             "COMPANY,16,100,78,1123897643,2005:08:13 09:47:23\n";
const QByteArray kWwlRow = ",ION230,WWL,8,75,100,1795502476,2026:11:24 14:41:16\n";
} // namespace

void TestPhotoInfoTable::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QString samples = QStringLiteral(V7_SHARED_TESTDATA_DIR "/exif-samples/");
    m_canon = samples + QStringLiteral("Canon_40D.jpg");
    m_kodak = samples + QStringLiteral("Kodak_CX7530.jpg");
    m_wwl = samples + QStringLiteral("WWL_(Polaroid)_ION230.jpg");
    if (!QFile::exists(m_canon))
        QSKIP("sample photos not present");
}

QByteArray TestPhotoInfoTable::contents(const QString &path) const
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void TestPhotoInfoTable::createdThenAppended()
{
    const QString path = m_dir.filePath(QStringLiteral("center.txt"));
    QString error;
    {
        PhotoInfoTable table;
        QVERIFY2(table.open(path, false, &error), qPrintable(error));
        QVERIFY(table.appendRow(m_canon, ExifReader::readFile(m_canon)));
        QVERIFY(table.appendRow(m_kodak, ExifReader::readFile(m_kodak)));
        table.close();
    }
    const QByteArray first = kHeader + m_canon.toUtf8() + kCanonRow + m_kodak.toUtf8() + kKodakRow;
    QCOMPARE(contents(path), first);

    // A resumed offload appends without a second header.
    PhotoInfoTable resumed;
    QVERIFY(resumed.open(path, true, &error));
    QVERIFY(resumed.appendRow(m_wwl, ExifReader::readFile(m_wwl)));
    resumed.close();
    QCOMPARE(contents(path), first + m_wwl.toUtf8() + kWwlRow);

    // A new offload starts the table again.
    PhotoInfoTable fresh;
    QVERIFY(fresh.open(path, false, &error));
    fresh.close();
    QCOMPARE(contents(path), kHeader);

    // Appending to a table that does not exist yet creates it, still without a header.
    const QString other = m_dir.filePath(QStringLiteral("front.txt"));
    PhotoInfoTable appended;
    QVERIFY(appended.open(other, true, &error));
    QVERIFY(appended.appendRow(m_canon, ExifReader::readFile(m_canon)));
    appended.close();
    QCOMPARE(contents(other), m_canon.toUtf8() + kCanonRow);
    QVERIFY(!appended.appendRow(m_canon, ExifReader::readFile(m_canon)));
}

void TestPhotoInfoTable::rowsAreOnDiskAfterEachRow()
{
    const QString path = m_dir.filePath(QStringLiteral("left.txt"));
    PhotoInfoTable table;
    QVERIFY(table.open(path, false, nullptr));
    QCOMPARE(contents(path), kHeader);
    QVERIFY(table.appendRow(QStringLiteral("/card/a.jpg"), ExifReader::readFile(m_canon)));
    QCOMPARE(contents(path), kHeader + "/card/a.jpg" + kCanonRow);
}

void TestPhotoInfoTable::openFailures()
{
    PhotoInfoTable table;
    QString error;
    QVERIFY(!table.open(m_dir.filePath(QStringLiteral("no/such/folder/back.txt")), false, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!table.isOpen());
    QVERIFY(!table.appendRow(m_canon, PhotoInfo()));
}

void TestPhotoInfoTable::captureTime_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<qlonglong>("seconds");
    QTest::newRow("exif date") << "2008:05:30 15:56:01" << 1212134161LL;
    QTest::newRow("other separators") << "2008-05-30T15/56/01" << 1212134161LL;
    QTest::newRow("epoch in UTC+8") << "1970:01:01 08:00:00" << 0LL;
    QTest::newRow("before 1970") << "1969:12:31 23:59:59" << -1LL;
    QTest::newRow("empty") << "" << -1LL;
    QTest::newRow("cut short") << "2008:05:30 15:56" << -1LL;
    QTest::newRow("blank date of a camera without clock") << "    :  :     :  :  " << -1LL;
}

void TestPhotoInfoTable::captureTime()
{
    QFETCH(QString, date);
    QFETCH(qlonglong, seconds);
    QCOMPARE(PhotoInfoTable::captureTime(date), seconds);
}

void TestPhotoInfoTable::rowOfDamagedValues()
{
    PhotoInfo info;
    info.cameraModel = QStringLiteral("M");
    info.focalLength = 35.99;
    info.width = 6000;
    info.height = 4000;
    QCOMPARE(PhotoInfoTable::row(QStringLiteral("p.jpg"), info),
             QByteArray("p.jpg,M,,35,6000,4000,-1,\n"));
    info.focalLength = 1e300;
    QCOMPARE(PhotoInfoTable::row(QStringLiteral("p.jpg"), info),
             QByteArray("p.jpg,M,,0,6000,4000,-1,\n"));
}

QTEST_GUILESS_MAIN(TestPhotoInfoTable)
#include "tst_photoinfotable.moc"
