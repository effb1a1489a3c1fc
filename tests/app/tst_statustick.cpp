// The decisions of the main window's 500 ms tick, checked on device contexts alone.
#include <QtTest>

#include "statustick.h"

namespace {

using Icon = StatusView::Icon;
using Icons = std::array<Icon, StatusView::SlotCount>;

v7k_context makeContext(quint8 major, quint8 minor, quint8 cameraState, quint8 selfTest)
{
    v7k_context context{};
    context.firmwareMajor = major;
    context.firmwareMinor = minor;
    context.cameraState = cameraState;
    context.selfTest = selfTest;
    context.state = V7K_STATE_GPS_GOOD;
    context.satellites = 12;
    return context;
}

Icons icons(const char *pattern) // one letter per slot 13,17,15,14,16: G good, F fault, - unchanged
{
    Icons result{};
    for (int i = 0; i < StatusView::SlotCount; ++i)
        result[i] = pattern[i] == 'G' ? Icon::Good : pattern[i] == 'F' ? Icon::Fault : Icon::Unchanged;
    return result;
}

} // namespace

Q_DECLARE_METATYPE(Icons)
Q_DECLARE_METATYPE(std::optional<QString>)

class tst_StatusTick : public QObject
{
    Q_OBJECT
private slots:
    void cameraHealth_data();
    void cameraHealth();
    void strategy_data();
    void strategy();
    void gps_data();
    void gps();
    void counts();
};

void tst_StatusTick::cameraHealth_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("cameraState");
    QTest::addColumn<int>("selfTest");
    QTest::addColumn<std::optional<QString>>("faultText");
    QTest::addColumn<Icons>("icons");

    using Text = std::optional<QString>;
    const Text keep, blank = QString(), allFaulty = QStringLiteral("5个相机全部故障，请检查");
    // Current firmware: a set bit is a good camera.
    QTest::newRow("current, all good") << 4 << 41 << 31 << 1 << blank << icons("GGGGG");
    QTest::newRow("current, all faulty") << 4 << 41 << 0 << 1 << allFaulty << icons("FFFFF");
    QTest::newRow("current, 1 and 3 faulty")
        << 4 << 45 << 0b11010 << 1 << Text(QStringLiteral("1号、3号相机故障，请检查")) << icons("FGFGG");
    QTest::newRow("major 5 is not the current generation")
        << 5 << 0 << 0 << 1 << blank << icons("GGGGG");
    QTest::newRow("current, self-testing")
        << 4 << 41 << 0 << 0 << Text(QStringLiteral("          设备自检中")) << icons("-----");
    QTest::newRow("current, self-test done keeps text")
        << 4 << 41 << 0b01111 << 2 << keep << icons("GGGGF");
    // Earlier firmware: a set bit is a fault, and bit 0 is the right camera's icon.
    QTest::newRow("earlier, all set") << 4 << 40 << 31 << 1 << allFaulty << icons("FFFFF");
    QTest::newRow("earlier, none set") << 3 << 31 << 0 << 0 << blank << icons("GGGGG");
    QTest::newRow("earlier, bits 0 and 4")
        << 3 << 31 << 0b10001 << 2 << Text(QStringLiteral("1号、5号相机故障，请检查")) << icons("GFGGF");
    const Text third = QStringLiteral("3号相机故障，请检查");
    QTest::newRow("earlier, bit 2 is the front icon") << 4 << 0 << 0b00100 << 1 << third
                                                      << icons("FGGGG");
    QTest::newRow("version unknown leaves icons") << 0 << 0 << 0b00100 << 1 << third
                                                  << icons("-----");
}

void tst_StatusTick::cameraHealth()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, cameraState);
    QFETCH(int, selfTest);
    QFETCH(std::optional<QString>, faultText);
    QFETCH(Icons, icons);

    const v7k_context context = makeContext(quint8(major), quint8(minor), quint8(cameraState),
                                            quint8(selfTest));
    const StatusView view = StatusTick::evaluate(context);
    QCOMPARE(view.faultText, faultText);
    QCOMPARE(view.icons, icons);
}

void tst_StatusTick::strategy_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("timeInterval");
    QTest::addColumn<int>("distanceInterval");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("caption");

    // The other modes' texts reach the panel in the strategy page's test.
    const QString capture = QStringLiteral("采集策略：");
    QTest::newRow("debug") << 1 << 0 << 0 << QStringLiteral("调试模式") << QStringLiteral("当前策略：");
    QTest::newRow("timed 2 s") << 2 << 20 << 0 << QStringLiteral("定时2.00s") << capture;
    QTest::newRow("distance 123.4 m") << 3 << 0 << 1234 << QStringLiteral("定距123.4m") << capture;
    QTest::newRow("distance, largest")
        << 3 << 0 << 65535 << QStringLiteral("定距6553.5m") << capture;
    QTest::newRow("unknown") << 9 << 20 << 500 << QString() << capture;
    QTest::newRow("none yet") << 0 << 0 << 0 << QString() << capture;
}

void tst_StatusTick::strategy()
{
    QFETCH(int, mode);
    QFETCH(int, timeInterval);
    QFETCH(int, distanceInterval);
    QFETCH(QString, text);
    QFETCH(QString, caption);

    v7k_context context = makeContext(4, 41, 31, 2);
    context.workParam.mode = quint8(mode);
    context.workParam.timeInterval = quint16(timeInterval);
    context.workParam.distanceInterval = quint16(distanceInterval);
    const StatusView view = StatusTick::evaluate(context);
    QCOMPARE(view.strategyText, text);
    QCOMPARE(view.strategyCaption, caption);
}

void tst_StatusTick::gps_data()
{
    QTest::addColumn<bool>("gpsGood");
    QTest::addColumn<int>("satellites");
    QTest::addColumn<std::optional<QString>>("text");

    const std::optional<QString> notLocated = QStringLiteral("GPS未定位");
    const std::optional<QString> hardware = QStringLiteral("GPS硬件故障");
    QTest::newRow("good, 3 satellites") << true << 3 << notLocated;
    QTest::newRow("good, 4 satellites keeps text") << true << 4 << std::optional<QString>();
    QTest::newRow("hardware fault") << false << 0 << hardware;
    QTest::newRow("hardware fault wins over satellites") << false << 12 << hardware;
}

void tst_StatusTick::gps()
{
    QFETCH(bool, gpsGood);
    QFETCH(int, satellites);
    QFETCH(std::optional<QString>, text);

    v7k_context context = makeContext(4, 41, 31, 1);
    context.state = gpsGood ? V7K_STATE_GPS_GOOD | V7K_STATE_NEW_POS : V7K_STATE_NEW_POS;
    context.satellites = satellites;
    QCOMPARE(StatusTick::evaluate(context).gpsText, text);
}

void tst_StatusTick::counts()
{
    v7k_context context = makeContext(4, 41, 0x1b, 2);
    context.photoCount = 4000000000u;
    context.satellites = -1;
    const quint16 photos[5] = {10, 11, 9, 10, 12};
    std::memcpy(context.cameraPhotos, photos, sizeof photos);

    const StatusView view = StatusTick::evaluate(context);
    QCOMPARE(view.photoCount, QStringLiteral("4000000000"));
    QCOMPARE(view.satellites, QStringLiteral("-1"));
    QCOMPARE(view.triggerCount, 4000000000u);
    QCOMPARE(view.cameraPhotos, (std::array<quint16, 5>{10, 11, 9, 10, 12}));
    QCOMPARE(view.cameraGood, (std::array<bool, 5>{true, true, false, true, true}));
}

QTEST_APPLESS_MAIN(tst_StatusTick)
#include "tst_statustick.moc"
