#include <QDir>
#include <QFile>
#include <QTest>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

// Feeds every kept fuzz input (seeds and former crashes) through the fuzz entry, so a fixed
// crash stays fixed in every build, sanitized or not.
class TestFuzzExifReplay : public QObject
{
    Q_OBJECT
private slots:
    void replay_data();
    void replay();
};

void TestFuzzExifReplay::replay_data()
{
    QTest::addColumn<QString>("path");
    int rows = 0;
    for (const char *folder : {"corpus", "regressions"}) {
        const QDir dir(QStringLiteral(FUZZ_EXIF_DIR "/") + QLatin1String(folder));
        for (const QFileInfo &f : dir.entryInfoList(QDir::Files, QDir::Name)) {
            QTest::newRow(qPrintable(QLatin1String(folder) + QLatin1Char('/') + f.fileName()))
                << f.filePath();
            ++rows;
        }
    }
    QVERIFY2(rows > 0, "no fuzz inputs found");
}

void TestFuzzExifReplay::replay()
{
    QFETCH(QString, path);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    // A private copy, so a read past the end lands outside the buffer where ASan sees it.
    std::vector<uint8_t> exact(bytes.begin(), bytes.end());
    QCOMPARE(LLVMFuzzerTestOneInput(exact.data(), exact.size()), 0);
}

QTEST_GUILESS_MAIN(TestFuzzExifReplay)
#include "tst_fuzz_exif_replay.moc"
