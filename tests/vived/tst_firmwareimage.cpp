// The firmware image format and its encrypted container, through the library's C calls.
#include "firmwareimage.h"
#include "testtools.h"
#include "v7k.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using vived::FirmwareHeader;
using vived::FirmwareImage;

namespace {
std::vector<uint8_t> sampleImage()
{
    FirmwareHeader h;
    h.major = 4;
    h.minor = 42;
    h.buildDate = "2020-05-01";
    h.model = "V7K5";
    std::vector<uint8_t> body(5000);
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = uint8_t(i * 7 + 3);
    return FirmwareImage::build(h, body);
}
} // namespace

class tst_FirmwareImage : public QObject
{
    Q_OBJECT

private slots:
    void plainImageChecks();
    void encryptedRoundTrip();
    void damagedContainer_data();
    void damagedContainer();

private:
    QTemporaryDir m_dir;
};

void tst_FirmwareImage::plainImageChecks()
{
    std::vector<uint8_t> image = sampleImage();
    FirmwareHeader h;
    QVERIFY(FirmwareImage::parse(image, h));
    QCOMPARE(h.major, uint8_t(4));
    QCOMPARE(h.minor, uint8_t(42));
    QCOMPARE(QString::fromStdString(h.buildDate), QStringLiteral("2020-05-01"));
    QCOMPARE(QString::fromStdString(h.model), QStringLiteral("V7K5"));
    std::vector<uint8_t> body = image;
    body.back() ^= 1;
    QVERIFY(!FirmwareImage::parse(body, h));
    std::vector<uint8_t> header = image;
    header[6] = 43; // version changed without resealing the header
    QVERIFY(!FirmwareImage::parse(header, h));
    image.pop_back();
    QVERIFY(!FirmwareImage::parse(image, h));
}

void tst_FirmwareImage::encryptedRoundTrip()
{
    const std::vector<uint8_t> plain = sampleImage();
    std::vector<uint8_t> sealed, again;
    QVERIFY(FirmwareImage::encrypt(plain, sealed));
    QVERIFY(FirmwareImage::encrypt(plain, again));
    QVERIFY(sealed != again); // a fresh IV every time
    const QString sealedPath = m_dir.filePath("sealed.bin");
    const QString plainPath = m_dir.filePath("plain.bin");
    const QString outPath = m_dir.filePath("tempfile.bin");
    QVERIFY(FirmwareImage::writeFile(sealedPath.toUtf8(), sealed));
    QVERIFY(FirmwareImage::writeFile(plainPath.toUtf8(), plain));
    QCOMPARE(akupgrader_file_is_encrypt(sealedPath.toUtf8()), 1);
    QCOMPARE(akupgrader_file_is_encrypt(plainPath.toUtf8()), 0);
    QCOMPARE(akupgrader_file_is_encrypt(m_dir.filePath("missing.bin").toUtf8()), 0);
    QCOMPARE(akupgrader_file_decrypt(sealedPath.toUtf8(), outPath.toUtf8()), 0);
    QCOMPARE(fileBytes(outPath), fileBytes(plainPath));
}

void tst_FirmwareImage::damagedContainer_data()
{
    QTest::addColumn<int>("at");       // byte to damage, from the end when negative
    QTest::addColumn<int>("truncate"); // bytes to cut off the end
    QTest::newRow("last cipher block") << -1 << 0;
    QTest::newRow("first cipher block") << 40 << 0;
    QTest::newRow("initialisation vector") << 8 << 0;
    QTest::newRow("stated length") << 27 << 0;
    QTest::newRow("stated crc") << 31 << 0;
    QTest::newRow("not whole blocks") << 0 << 5;
    QTest::newRow("one block missing") << 0 << 16;
}

void tst_FirmwareImage::damagedContainer()
{
    QFETCH(int, at);
    QFETCH(int, truncate);
    std::vector<uint8_t> sealed;
    QVERIFY(FirmwareImage::encrypt(sampleImage(), sealed));
    if (at)
        sealed[size_t(at < 0 ? int(sealed.size()) + at : at)] ^= 0x20;
    sealed.resize(sealed.size() - size_t(truncate));
    const QString in = m_dir.filePath("damaged.bin");
    const QString out = m_dir.filePath("out.bin");
    QFile::remove(out);
    QVERIFY(FirmwareImage::writeFile(in.toUtf8(), sealed));
    QCOMPARE(akupgrader_file_decrypt(in.toUtf8(), out.toUtf8()), -1);
    QVERIFY(!QFile::exists(out));
}

QTEST_GUILESS_MAIN(tst_FirmwareImage)
#include "tst_firmwareimage.moc"
