#include <QPainter>
#include <QPixmap>
#include <QtTest>

#include <algorithm>

namespace {

const QString kPrefix = QStringLiteral(":/V7KAPP/res/");

// The pictures the program draws into widgets of a fixed size, by that size.
const QList<QPair<QSize, QStringList>> kSized = {
    {{108, 21}, {"logo.png"}},
    {{12, 12}, {"help.png", "close.png"}},
    {{12, 14}, {"update.png"}},
    {{32, 32}, {"shrink.png"}},
    {{154, 36},
     {"deviceInfo_normal.png", "deviceInfo_selected.png", "configTest_normal.png",
      "configTest_selected.png", "collectAssistant_normal.png", "collectAssistant_selected.png",
      "posnor.png", "possele.png", "yingxiangnor.png", "yingxiangsele.png",
      "yingxiangqingkongnor.png", "yingxiangqingkongselect.png"}},
    {{154, 42}, {"new duan.png", "net duan xuan.png", "wifi.png", "wifi-xuan.png"}},
    {{25, 20}, {"smallCamera_white.png", "smallCamera_yellow.png"}},
    {{31, 24}, {"largeCamera_white.png", "largeCamera_yellow.png"}},
    {{21, 21}, {"pictures.png", "sats.png"}},
    {{24, 24}, {"tishi.png"}},
    {{108, 30}, {"btn_B_nor.png"}},
    {{44, 44}, {"xuanzhuan.png", "xuanzhuan1.png", "xuanzhuan2.png"}},
};

QImage load(const QString &name)
{
    return QImage(kPrefix + name).convertToFormat(QImage::Format_ARGB32);
}

// Per-pixel colour-and-opacity distance between two same-sized images: the share of pixels that
// differ clearly, and the mean distance (for comparing a turned spinner frame with the next).
QPair<double, double> distance(const QImage &a, const QImage &b)
{
    int differing = 0;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            const int d[] = {qAbs(qRed(p) - qRed(q)), qAbs(qGreen(p) - qGreen(q)),
                             qAbs(qBlue(p) - qBlue(q)), qAbs(qAlpha(p) - qAlpha(q))};
            differing += *std::max_element(d, d + 4) > 40;
            sum += d[0] + d[1] + d[2] + d[3];
        }
    }
    const double pixels = a.width() * a.height();
    return {differing / pixels, sum / pixels};
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
    void variantsDiffer_data();
    void variantsDiffer();
    void spinnerFramesTurnClockwise();
};

// Every picture in the resources, and every one the program asks for by name.
void TestResources::pictureLoads_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size"); // invalid where no widget fixes it
    QMap<QString, QSize> pictures;
    for (const QString &name : QDir(kPrefix).entryList({QStringLiteral("*.png")}, QDir::Files))
        pictures.insert(name, QSize());
    for (const char *name : {"frame_bk1.png", "leftitems_bk.png", "title_bk.png", "smal_bk.png",
                             "bg_warningbox.png", "Tip.png"})
        pictures.insert(name, QSize());
    for (const auto &group : kSized) {
        for (const QString &name : group.second)
            pictures.insert(name, group.first);
    }
    QVERIFY(pictures.size() > 80);
    for (auto it = pictures.cbegin(); it != pictures.cend(); ++it)
        QTest::newRow(qPrintable(it.key())) << it.key() << it.value();
}

void TestResources::pictureLoads()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);

    const QPixmap pixmap(kPrefix + name);
    QVERIFY2(!pixmap.isNull(), qPrintable(name));
    if (size.isValid())
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

void TestResources::variantsDiffer_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    // States the operator must tell apart at a glance.
    const char *const pairs[][2] = {
        {"deviceInfo_normal.png", "deviceInfo_selected.png"},
        {"posnor.png", "possele.png"},
        {"configTest_normal.png", "configTest_selected.png"},
        {"wifi.png", "wifi-xuan.png"},
        {"collectAssistant_normal.png", "collectAssistant_selected.png"},
        {"yingxiangnor.png", "yingxiangsele.png"},
        {"new duan.png", "net duan xuan.png"},
        {"yingxiangqingkongnor.png", "yingxiangqingkongselect.png"},
        {"new duan.png", "wifi.png"},
        {"smallCamera_white.png", "smallCamera_yellow.png"},
        {"largeCamera_white.png", "largeCamera_yellow.png"},
    };
    for (const auto &pair : pairs)
        QTest::addRow("%s vs %s", pair[0], pair[1]) << pair[0] << pair[1];
}

void TestResources::variantsDiffer()
{
    QFETCH(QString, first);
    QFETCH(QString, second);

    const QImage a = load(first);
    const QImage b = load(second);
    QCOMPARE(a.size(), b.size());
    QVERIFY2(distance(a, b).first > 0.01, qPrintable(first + " looks like " + second));
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
        const double toNext = distance(forward, next).second;
        const double toPrevious = distance(forward, previous).second;
        QVERIFY2(
            toNext * 2 < toPrevious,
            qPrintable(QStringLiteral("frame %1: %2 vs %3").arg(i).arg(toNext).arg(toPrevious)));
    }
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
