#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSet>
#include <QSize>
#include <QTest>
#include <QTranslator>
#include <QtMath>

namespace {

const QString kPrefix = QStringLiteral(":/V7KAPP/res/");

struct Picture
{
    const char *name;
    int width;
    int height;
};

// Every picture the program loads, at the size it is drawn for. Where a widget shows the
// picture at a fixed size (navigation, status panel, title bar, dialogs, mode buttons) the
// size is the widget's; pure backgrounds are scaled by their widget but keep a fixed size here
// so a changed drawing is noticed.
const Picture kPictures[] = {
    // main window
    {"frame_bk1.png", 760, 540},
    {"title_bk.png", 760, 32},
    {"logo.png", 108, 21},
    {"help.png", 12, 12},
    {"update.png", 12, 14},
    {"shrink.png", 32, 32},
    {"close.png", 12, 12},
    {"Tip.png", 64, 64},
    {"deviceInfo_normal.png", 154, 36},
    {"deviceInfo_selected.png", 154, 36},
    {"configTest_normal.png", 154, 36},
    {"configTest_selected.png", 154, 36},
    {"collectAssistant_normal.png", 154, 36},
    {"collectAssistant_selected.png", 154, 36},
    {"posnor.png", 154, 36},
    {"possele.png", 154, 36},
    {"yingxiangnor.png", 154, 36},
    {"yingxiangsele.png", 154, 36},
    {"yingxiangqingkongnor.png", 154, 36},
    {"yingxiangqingkongselect.png", 154, 36},
    {"new duan.png", 154, 42},
    {"net duan xuan.png", 154, 42},
    {"wifi.png", 154, 42},
    {"wifi-xuan.png", 154, 42},
    {"leftitems_bk.png", 154, 367},
    {"smallCamera_white.png", 25, 20},
    {"smallCamera_yellow.png", 25, 20},
    {"largeCamera_white.png", 31, 24},
    {"largeCamera_yellow.png", 31, 24},
    {"pictures.png", 21, 21},
    {"sats.png", 21, 21},
    // prompt dialogs, connection settings, firmware windows
    {"bg_warningbox.png", 322, 160},
    {"tishi.png", 24, 24},
    {"btn_B_nor.png", 108, 30},
    {"xuanzhuan.png", 44, 44},
    {"xuanzhuan1.png", 44, 44},
    {"xuanzhuan2.png", 44, 44},
    {"bjs.png", 243, 170},
    {"btn_nor.png", 108, 32},
    {"btn_blue_hover.png", 108, 32},
    {"btn_closegray_nor.png", 16, 16},
    // pages
    {"configtest_bk.png", 606, 508},
    {"smal_bk.png", 606, 508},
    {"caijicelv.png", 606, 84},
    {"sehbeitiaoshi.png", 606, 84},
    {"fixeddiatance_normal.png", 104, 35},
    {"fixeddiatance_click.png", 104, 35},
    {"fixedtime_normal.png", 104, 35},
    {"fixedtime_click.png", 104, 35},
    {"elge_normal.png", 119, 35},
    {"elge_click.png", 119, 35},
    {"IO_normal.png", 120, 35},
    {"IO_click.png", 120, 35},
    {"pwm_normal.png", 139, 35},
    {"pwm_click.png", 139, 35},
    {"setup_normal.png", 84, 27},
    {"photograph_normal.png", 47, 46},
    {"photograph_click.png", 47, 46},
    {"normal.png", 60, 24},
    {"wenti.png", 60, 24},
    {"round_normal.png", 16, 16},
    {"round_error.png", 16, 16},
    {"icon_loading.png", 24, 24},
    {"ok.png", 24, 24},
    {"icon_fail.png", 24, 24},
    {"calc.png", 108, 32},
    {"center-nor.png", 60, 60},
    {"center-hor.png", 60, 60},
    {"front-nor.png", 60, 60},
    {"front-hor.png", 60, 60},
    {"right-nor.png", 60, 60},
    {"right-hor.png", 60, 60},
    {"left-nor.png", 60, 60},
    {"left-hor.png", 60, 60},
    {"back-nor.png", 60, 60},
    {"back-hor.png", 60, 60},
    {"begin.png", 48, 48},
    {"zanting.png", 48, 48},
    {"btn_download_nor.png", 100, 32},
    {"btn_download_hover.png", 100, 32},
    {"quxiaoxiazai.png", 100, 32},
    {"btn_delete_nor.png", 100, 32},
    {"btn_delete_hover.png", 100, 32},
    {"btn_WIFI_pre.png", 100, 32},
    {"btn_WIFI_nor.png", 100, 32},
    {"btn_USB_pre.png", 100, 32},
    {"btn_USB_nor.png", 100, 32},
};

QImage load(const QString &name)
{
    return QImage(kPrefix + name).convertToFormat(QImage::Format_ARGB32);
}

// Share of pixels whose colour or opacity differs clearly between two same-sized images.
double differingShare(const QImage &a, const QImage &b)
{
    int differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            const int d = qMax(qMax(qAbs(qRed(p) - qRed(q)), qAbs(qGreen(p) - qGreen(q))),
                               qMax(qAbs(qBlue(p) - qBlue(q)), qAbs(qAlpha(p) - qAlpha(q))));
            if (d > 40)
                ++differing;
        }
    }
    return double(differing) / (a.width() * a.height());
}

// Mean colour-and-opacity distance, for comparing a turned spinner frame with the next one.
double meanDistance(const QImage &a, const QImage &b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            sum += qAbs(qRed(p) - qRed(q)) + qAbs(qGreen(p) - qGreen(q)) + qAbs(qBlue(p) - qBlue(q))
                + qAbs(qAlpha(p) - qAlpha(q));
        }
    }
    return sum / (a.width() * a.height());
}

QImage turned(const QImage &image, qreal degrees)
{
    QImage out(image.size(), QImage::Format_ARGB32);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(image.width() / 2.0, image.height() / 2.0);
    painter.rotate(degrees);
    painter.translate(-image.width() / 2.0, -image.height() / 2.0);
    painter.drawImage(0, 0, image);
    painter.end();
    return out.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

// Checks that the compiled-in resources hold every picture the program asks for, drawn and sized.
class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void pictureLoads_data();
    void pictureLoads();
    void noUnlistedResources();
    void variantsDiffer_data();
    void variantsDiffer();
    void spinnerFramesTurnClockwise();
    void qtTranslationIsChinese_data();
    void qtTranslationIsChinese();
};

void TestResources::pictureLoads_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    for (const Picture &p : kPictures)
        QTest::newRow(p.name) << QString::fromUtf8(p.name) << QSize(p.width, p.height);
}

void TestResources::pictureLoads()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);

    const QPixmap pixmap(kPrefix + name);
    QVERIFY2(!pixmap.isNull(), qPrintable(name));
    QCOMPARE(pixmap.size(), size);

    // A picture that rendered to nothing (broken drawing, lost font) is transparent or flat.
    const QImage image = load(name);
    bool anyOpaque = false;
    bool varies = false;
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            anyOpaque = anyOpaque || qAlpha(p) > 128;
            varies = varies || p != first;
        }
    }
    QVERIFY2(anyOpaque, "picture is fully transparent");
    QVERIFY2(varies, "picture is a single flat colour");
}

void TestResources::noUnlistedResources()
{
    QSet<QString> expected;
    for (const Picture &p : kPictures)
        expected.insert(QString::fromUtf8(p.name));
    expected.insert(QStringLiteral("qt_zh_CN.qm"));

    const QStringList entries = QDir(kPrefix).entryList(QDir::Files);
    const QSet<QString> present(entries.cbegin(), entries.cend());
    // A picture under a misspelt name would load nowhere; list both directions for the message.
    const QStringList unlisted = (present - expected).values();
    const QStringList missing = (expected - present).values();
    QVERIFY2(unlisted.isEmpty(), qPrintable("not used by the program: " + unlisted.join(", ")));
    QVERIFY2(missing.isEmpty(), qPrintable("missing: " + missing.join(", ")));
}

void TestResources::variantsDiffer_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    const char *const pairs[][2] = {
        {"deviceInfo_normal.png", "deviceInfo_selected.png"},
        {"configTest_normal.png", "configTest_selected.png"},
        {"collectAssistant_normal.png", "collectAssistant_selected.png"},
        {"posnor.png", "possele.png"},
        {"yingxiangnor.png", "yingxiangsele.png"},
        {"yingxiangqingkongnor.png", "yingxiangqingkongselect.png"},
        {"new duan.png", "net duan xuan.png"},
        {"wifi.png", "wifi-xuan.png"},
        {"new duan.png", "wifi.png"},
        {"smallCamera_white.png", "smallCamera_yellow.png"},
        {"largeCamera_white.png", "largeCamera_yellow.png"},
        {"btn_nor.png", "btn_blue_hover.png"},
        {"fixeddiatance_normal.png", "fixeddiatance_click.png"},
        {"fixedtime_normal.png", "fixedtime_click.png"},
        {"fixeddiatance_normal.png", "fixedtime_normal.png"},
        {"elge_normal.png", "elge_click.png"},
        {"IO_normal.png", "IO_click.png"},
        {"pwm_normal.png", "pwm_click.png"},
        {"caijicelv.png", "sehbeitiaoshi.png"},
        {"photograph_normal.png", "photograph_click.png"},
        {"normal.png", "wenti.png"},
        {"round_normal.png", "round_error.png"},
        {"ok.png", "icon_fail.png"},
        {"center-nor.png", "center-hor.png"},
        {"front-nor.png", "front-hor.png"},
        {"right-nor.png", "right-hor.png"},
        {"left-nor.png", "left-hor.png"},
        {"back-nor.png", "back-hor.png"},
        {"front-nor.png", "back-nor.png"},
        {"begin.png", "zanting.png"},
        {"btn_download_nor.png", "btn_download_hover.png"},
        {"btn_download_hover.png", "quxiaoxiazai.png"},
        {"btn_delete_nor.png", "btn_delete_hover.png"},
        {"btn_WIFI_pre.png", "btn_WIFI_nor.png"},
        {"btn_USB_pre.png", "btn_USB_nor.png"},
        {"btn_WIFI_pre.png", "btn_USB_pre.png"},
    };
    for (const auto &pair : pairs)
        QTest::addRow("%s vs %s", pair[0], pair[1]) << QString::fromUtf8(pair[0]) << QString::fromUtf8(pair[1]);
}

void TestResources::variantsDiffer()
{
    QFETCH(QString, first);
    QFETCH(QString, second);

    const QImage a = load(first);
    const QImage b = load(second);
    QCOMPARE(a.size(), b.size());
    // States the operator must tell apart at a glance differ in a visible part of the picture.
    QVERIFY2(differingShare(a, b) > 0.01, qPrintable(first + " looks like " + second));
}

void TestResources::spinnerFramesTurnClockwise()
{
    // The busy dialog shows xuanzhuan, xuanzhuan2, xuanzhuan1 in turn, every tick a third of a
    // clockwise turn on; each frame turned by 120 degrees must match the frame shown next.
    const QImage frames[] = {load("xuanzhuan.png"), load("xuanzhuan2.png"), load("xuanzhuan1.png")};
    for (int i = 0; i < 3; ++i) {
        const QImage next = frames[(i + 1) % 3];
        const QImage previous = frames[(i + 2) % 3];
        const QImage forward = turned(frames[i], 120);
        const double toNext = meanDistance(forward, next);
        const double toPrevious = meanDistance(forward, previous);
        QVERIFY2(toNext * 2 < toPrevious,
                 qPrintable(QStringLiteral("frame %1: %2 vs %3").arg(i).arg(toNext).arg(toPrevious)));
    }
}

void TestResources::qtTranslationIsChinese_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("chinese");
    QTest::newRow("button cancel") << "QPlatformTheme" << "Cancel" << QStringLiteral("取消");
    QTest::newRow("button yes") << "QPlatformTheme" << "&Yes" << QStringLiteral("是(&Y)");
}

void TestResources::qtTranslationIsChinese()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, chinese);

    QTranslator translator;
    QVERIFY(translator.load(kPrefix + "qt_zh_CN.qm"));
    QCOMPARE(translator.translate(context.toLatin1().constData(), source.toLatin1().constData()), chinese);

    // Installed on the application, Qt's own dialog buttons come out in Chinese.
    QVERIFY(QCoreApplication::installTranslator(&translator));
    QCOMPARE(QCoreApplication::translate(context.toLatin1().constData(), source.toLatin1().constData()), chinese);
    QCoreApplication::removeTranslator(&translator);
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
