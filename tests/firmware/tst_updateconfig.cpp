// The shipped update configuration, the model rule and the upgrade question.
#include <QtTest>

#include <QTemporaryDir>

#include "deviceinfo.h"
#include "testtools.h"
#include "updateconfig.h"
#include "v7k.h"

class tst_UpdateConfig : public QObject
{
    Q_OBJECT
private slots:
    void read_data();
    void read();
    void recordSize_data();
    void recordSize();
    void question_data();
    void question();
};

void tst_UpdateConfig::read_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("shipped form")
        << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n"
                      "  <filename value=\"V7K_4.41.bin\"/>\n  <num value=\"4.41\"/>\n</config>\n")
        << "4.41" << "V7K_4.41.bin";
    QTest::newRow("last num wins")
        << QByteArray("<config><filename value=\"a.bin\"/><num value=\"4.30\"/><num value=\"4.52\"/></config>")
        << "4.52" << "a.bin";
    QTest::newRow("filename not first")
        << QByteArray("<config><num value=\"4.41\"/><filename value=\"a.bin\"/></config>") << "4.41"
        << "";
    QTest::newRow("other root") << QByteArray("<update><num value=\"4.41\"/></update>") << ""
                                << "";
    QTest::newRow("not xml") << QByteArray("num=4.41\n") << "" << "";
    QTest::newRow("truncated") << QByteArray("<config><filename value=\"a.bin\"/><num val") << ""
                               << "";
    QTest::newRow("empty") << QByteArray() << "" << "";
}

void tst_UpdateConfig::read()
{
    QFETCH(QByteArray, xml);
    QFETCH(QString, version);
    QFETCH(QString, fileName);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("UpdateConfig.xml"));
    QVERIFY(writeFile(path, xml));
    const UpdateConfig config = UpdateConfig::read(path);
    QCOMPARE(config.version, version);
    QCOMPARE(config.fileName, fileName);
    QVERIFY(UpdateConfig::read(dir.filePath(QStringLiteral("missing.xml"))).version.isEmpty());
}

void tst_UpdateConfig::recordSize_data()
{
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<int>("size");
    QTest::newRow("V7K3") << QByteArray("V7K3-1001") << 32;
    QTest::newRow("V7K5") << QByteArray("V7K50042") << 52;
    QTest::newRow("V7K1") << QByteArray("V7K1") << 32;
    QTest::newRow("V7K2") << QByteArray("V7K2A") << 32;
    QTest::newRow("V7K4") << QByteArray("V7K4B") << 52;
    QTest::newRow("other V7K") << QByteArray("V7K9") << 32;
    QTest::newRow("other V7") << QByteArray("V7X5") << 32;
    QTest::newRow("short") << QByteArray("V7") << 32;
    QTest::newRow("not a V7") << QByteArray("R9K5") << 0;
    QTest::newRow("empty") << QByteArray("") << 0;
}

void tst_UpdateConfig::recordSize()
{
    QFETCH(QByteArray, serial);
    QFETCH(int, size);
    QCOMPARE(v7k_pos_record_size(serial.constData()), size);
}

void tst_UpdateConfig::question_data()
{
    QTest::addColumn<QString>("configured");
    QTest::addColumn<QString>("camera");
    QTest::addColumn<QString>("question");
    QTest::newRow("older camera") << "4.41" << "4.40" << "当前固件版本是4.40,是否升级？";
    QTest::newRow("same") << "4.41" << "4.41" << "";
    QTest::newRow("newer camera") << "4.41" << "4.52" << "";
    QTest::newRow("version unknown") << "4.41" << "0.0" << "";
    QTest::newRow("no configuration") << "" << "4.40" << "";
    QTest::newRow("decimal comparison") << "4.5" << "4.41" << "当前固件版本是4.41,是否升级？";
}

void tst_UpdateConfig::question()
{
    QFETCH(QString, configured);
    QFETCH(QString, camera);
    QFETCH(QString, question);
    QCOMPARE(DeviceInfo::upgradeQuestion(configured, camera), question);
}

QTEST_APPLESS_MAIN(tst_UpdateConfig)
#include "tst_updateconfig.moc"
