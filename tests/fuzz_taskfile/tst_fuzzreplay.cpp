// Replays the fuzz corpus and every kept crash input through the fuzz entry.
#include <QtTest>

#include "taskfilefuzz.h"

class TestFuzzReplay : public QObject
{
    Q_OBJECT
private slots:
    void replay_data()
    {
        QTest::addColumn<QString>("path");
        int count = 0;
        for (const char *folder : {"corpus", "regressions"}) {
            QDir dir(QStringLiteral(FUZZ_DIR "/") + QLatin1String(folder));
            for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
                QTest::addRow("%s/%s", folder, qPrintable(name)) << dir.filePath(name);
                ++count;
            }
        }
        QVERIFY2(count >= 5, "the corpus is missing");
    }
    void replay()
    {
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(taskFileFuzzOne(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                 size_t(bytes.size())),
                 0);
    }
};

QTEST_GUILESS_MAIN(TestFuzzReplay)
#include "tst_fuzzreplay.moc"
