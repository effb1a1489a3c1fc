// The offload page driven through its widgets, offscreen, against cards that are folders of a
// V7_MEDIA_ROOT: set-up, a complete offload with POS data and block files, pause and resume, a
// card pulled mid-copy, the window closed mid-offload and resumed by a new page, bad input.
// Each interruption runs in a process of its own (see CMakeLists.txt): V7_OFFLOAD_FAULT holds
// one camera before one file until the engine is paused.
#include <QtTest>

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QTextEdit>

#include <unistd.h>

#include "cameracards.h"
#include "camsimprocess.h"
#include "dataservice.h"
#include "jpegscan.h"
#include "mylabel.h"
#include "offloadfixture.h"
#include "offloadrun.h"
#include "pagedriver.h"
#include "sortieblocks.h"

namespace {

constexpr int SmallPhotos = 8; // sample photos per card
constexpr int LargePhotos = 4; // generated photos of a survey camera's size per card
constexpr int PhotosPerCard = SmallPhotos + LargePhotos;
const char *const kLabels[Cameras::Count] = {"Center", "Left", "Right", "Front", "Back"};

QString g_media; // V7_MEDIA_ROOT, set before the program's first volume query

QByteArray scanData(const QString &path)
{
    const QByteArray bytes = OffloadFixture::fileBytes(path);
    const size_t start = JpegScan::scanStart(reinterpret_cast<const uchar *>(bytes.constData()),
                                             size_t(bytes.size()));
    return start ? bytes.mid(qsizetype(start)) : QByteArray();
}

// A photo of a survey camera's size: noise does not compress, so the file stays large.
bool makeLargePhoto(const QString &path)
{
    QImage image(3000, 2000, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = random.generate() | 0xff000000u;
    }
    return image.save(path, "JPEG", 92);
}

} // namespace

class TestDataService : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void fullOffload();
    void badInput();
    void targetWithoutRoom();
    void cardArrivals();
    void pauseAndResume();
    void cardPulledMidCopy();
    void closedMidOffload();

private:
    QString card(int camera) const;
    QString photoFolder(int camera) const;
    // Clicks every camera icon and answers its chooser with the card's photo folder, then
    // the target; with pos, adds the POS table.
    void setUpFive(DataService *page, bool pos);
    bool waitForPrompt(const QString &text, int count = 1);
    void verifyTarget(bool sorties);
    void waitForHold(DataService *page, int camera, int index);

    QTemporaryDir m_dir;
    QString m_target;
    QString m_pos;
    QString m_largePhoto;
    std::unique_ptr<PromptCatcher> m_prompts;
    std::unique_ptr<ChooserAnswers> m_choosers;
};

void TestDataService::initTestCase()
{
    QVERIFY(QFileInfo(g_media).isDir());
    m_largePhoto = m_dir.filePath(QStringLiteral("large.jpg"));
    QVERIFY(makeLargePhoto(m_largePhoto));
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        QVERIFY(OffloadFixture::makeCard(photoFolder(camera), SmallPhotos, 0, camera));
        for (int i = 0; i < LargePhotos; ++i)
            QVERIFY(QFile::copy(m_largePhoto, QStringLiteral("%1/DSC%2.JPG")
                                                  .arg(photoFolder(camera))
                                                  .arg(SmallPhotos + i + 1, 5, 10, QLatin1Char('0'))));
    }
    // One flight table with a record for every photo of a card, in the order they are taken.
    QString table =
        QStringLiteral("ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tTime\tSpeed\n");
    for (int i = 0; i < PhotosPerCard; ++i)
        table += QStringLiteral("%1\t%2\t23.100000\t%3\t0\t0\t0\t0\t5.0\t2024/05/01 10:00:%4\n")
                     .arg(i + 1)
                     .arg(113.0 + i / 1000.0, 0, 'f', 6)
                     .arg(300 + i)
                     .arg(2 * i, 2, 10, QLatin1Char('0'));
    m_pos = m_dir.filePath(QStringLiteral("flight.xls"));
    QFile file(m_pos);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(table.toUtf8());
}

void TestDataService::init()
{
    m_target = m_dir.filePath(QStringLiteral("target-") + QTest::currentTestFunction());
    QDir().mkpath(m_target);
    QFile::remove(QDir(qEnvironmentVariable("V7_STATE_DIR")).filePath("Taskconfig.xml"));
    m_prompts = std::make_unique<PromptCatcher>();
    m_choosers = std::make_unique<ChooserAnswers>();
}

void TestDataService::cleanup()
{
    m_choosers.reset();
    m_prompts.reset();
}

QString TestDataService::card(int camera) const
{
    return QDir(g_media).filePath(QLatin1String(kLabels[camera]));
}

QString TestDataService::photoFolder(int camera) const
{
    return card(camera) + QStringLiteral("/DCIM/100MSDCF");
}

bool TestDataService::waitForPrompt(const QString &text, int count)
{
    QElapsedTimer clock;
    clock.start();
    while (m_prompts->texts().count(text) < count) {
        if (clock.elapsed() > 90000) {
            qWarning() << "prompts so far:" << m_prompts->texts();
            return false;
        }
        QTest::qWait(20);
    }
    return true;
}

void TestDataService::setUpFive(DataService *page, bool pos)
{
    const int askedBefore = m_choosers->asked();
    // The icons in the order they stand on the page: centre, front, right, left, back.
    for (int camera : OffloadPlan::IconOrder) {
        QSignalSpy listed(page, &DataService::folderListed);
        m_choosers->queue(photoFolder(camera));
        QTest::mouseClick(page->cameraIcon(camera), Qt::LeftButton);
        QVERIFY(listed.wait(10000) || !listed.isEmpty());
        QVERIFY(page->plan().selected(camera));
        QVERIFY2(page->textArea()->toPlainText().contains(
                     QStringLiteral("%1共%2张").arg(photoFolder(camera)).arg(PhotosPerCard)),
                 qPrintable(page->textArea()->toPlainText()));
    }
    // The chooser opened on each card's DCIM folder.
    const QStringList titles = m_choosers->titles().mid(askedBefore);
    const QStringList starts = m_choosers->startFolders().mid(askedBefore);
    QCOMPARE(titles, QStringList(Cameras::Count, QStringLiteral("请选择")));
    for (int slot = 0; slot < Cameras::Count; ++slot)
        QCOMPARE(starts.at(slot), card(OffloadPlan::IconOrder[slot]) + QStringLiteral("/DCIM"));
    QCOMPARE(page->plan().plannedTotal(), Cameras::Count * PhotosPerCard);

    QSignalSpy measured(page, &DataService::targetMeasured);
    m_choosers->queue(m_target);
    QTest::mouseClick(page->targetButton(), Qt::LeftButton);
    QCOMPARE(page->targetLabel()->text(), m_target);
    QVERIFY(measured.wait(10000) || !measured.isEmpty());

    if (pos) {
        m_choosers->queue(m_pos);
        QTest::mouseClick(page->posAddButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(page->textArea()->toPlainText().contains(
                                     m_pos + QStringLiteral("   POS个数%1添加成功 ")
                                                 .arg(PhotosPerCard)),
                                 10000);
        QVERIFY(page->posAddButton()->isEnabled());
    }
}

void TestDataService::verifyTarget(bool sorties)
{
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        const QString folder = QDir(m_target).filePath(QLatin1String(Cameras::folderName(camera)));
        QVERIFY2(OffloadFixture::xxhsumPasses(folder), qPrintable(folder));
        QStringList copies = OffloadFixture::filesBelow(folder).filter(QStringLiteral(".JPG"));
        QCOMPARE(copies.size(), PhotosPerCard);
        for (const QString &copy : std::as_const(copies)) {
            const QString name = QFileInfo(copy).fileName();
            QCOMPARE(copy.startsWith(SortieBlocks::sortieFolderName(1)), sorties);
            // Tagging rewrites the header; the picture itself is the card's, byte for byte.
            const QByteArray original = scanData(photoFolder(camera) + QLatin1Char('/') + name);
            QVERIFY(!original.isEmpty());
            QCOMPARE(scanData(folder + QLatin1Char('/') + copy), original);
        }
    }
}

void TestDataService::waitForHold(DataService *page, int camera, int index)
{
    // Every other camera done, the held one standing before writing file index with the two
    // before it written but not committed (the engine keeps two in hand); a pause commits them.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const OffloadRun::Progress p = page->run()->progress();
            for (int c = 0; c < Cameras::Count; ++c) {
                if (p.cameras[c].filesDone != (c == camera ? index - 2 : PhotosPerCard))
                    return false;
            }
            return true;
        }(),
        60000);
}

void TestDataService::fullOffload()
{
    DataService page;
    page.show();
    QSignalSpy started(page.run(), &OffloadRun::started);
    setUpFive(&page, true);
    if (QTest::currentTestFailed())
        return;
    QTest::mouseClick(page.sortieBox(), Qt::LeftButton);
    QVERIFY(page.sortieBox()->isChecked());

    // What the operator saw on the way, and how long the GUI thread ever stood still.
    int highestValue = 0;
    int barMaximum = 0;
    QStringList texts;
    connect(page.progressBar(), &QProgressBar::valueChanged, this, [&](int value) {
        highestValue = std::max(highestValue, value);
        barMaximum = page.progressBar()->maximum();
    });
    QTimer beat;
    connect(page.textArea(), &QTextEdit::textChanged, this, [&] {
        texts << page.textArea()->toPlainText();
        // The offload ends with the reading that shows it complete.
        if (texts.last().contains(QStringLiteral("传输已完成")))
            beat.stop();
    });
    QStringList speeds;
    connect(page.progressTimer(), &QTimer::timeout, this, [&] { speeds << page.speedLabel()->text(); });
    QElapsedTimer turn;
    qint64 longestGap = 0;
    connect(&beat, &QTimer::timeout, this, [&] {
        longestGap = std::max(longestGap, turn.restart());
    });
    beat.start(5);
    turn.start();

    QTest::mouseClick(page.startButton(), Qt::LeftButton);
    QVERIFY(page.isRunning());
    QVERIFY(waitForPrompt(QStringLiteral("传输已经完成！")));
    QVERIFY(!beat.isActive());
    QVERIFY(started.size() == 1 && started.first().at(0).toBool());
    std::printf("offload page: longest gap between event-loop turns during a five-camera offload "
                "of %d photos (%d of %.1f MB): %lld ms (a figure, not a limit; aim < 100 ms)\n",
                Cameras::Count * PhotosPerCard, Cameras::Count * LargePhotos,
                QFileInfo(m_largePhoto).size() / 1e6, longestGap);

    QCOMPARE(highestValue, Cameras::Count * PhotosPerCard);
    QCOMPARE(barMaximum, Cameras::Count * PhotosPerCard);
    const QString last = texts.filter(QStringLiteral("传输已完成")).value(0);
    for (int camera = 0; camera < Cameras::Count; ++camera)
        QVERIFY2(last.contains(QStringLiteral("%1共%2张,已传%2张")
                                   .arg(photoFolder(camera))
                                   .arg(PhotosPerCard)),
                 qPrintable(last));
    // Each reading while the engines ran showed "%1M/s" with one decimal (a fast disk may
    // finish before the first one; the pause case sees them for certain).
    speeds.removeAll(QString());
    for (const QString &speed : std::as_const(speeds))
        QVERIFY2(QRegularExpression(QStringLiteral("^[0-9]+\\.[0-9]M/s$")).match(speed).hasMatch(),
                 qPrintable(speed));

    // Completion: the task file, the block file of the one flight, then a clean page.
    const QByteArray config = OffloadFixture::fileBytes(page.run()->configPath());
    QVERIFY2(config.contains("<tasksuccess flag=\"true\"/>"), config.constData());
    QVERIFY(QFile::exists(QDir(m_target).filePath(SortieBlocks::fileName(1))));
    const QByteArray blocks =
        OffloadFixture::fileBytes(QDir(m_target).filePath(SortieBlocks::fileName(1)));
    QCOMPARE(blocks.count("<Photo>"), Cameras::Count * PhotosPerCard);
    verifyTarget(true);
    QVERIFY(page.isCompleted());
    QVERIFY(!page.isRunning());
    QCOMPARE(page.textArea()->toPlainText(), QString());
    QCOMPARE(page.progressBar()->value(), 0);
    QVERIFY(!page.sortieBox()->isChecked());
    for (int camera = 0; camera < Cameras::Count; ++camera)
        QVERIFY(!page.plan().selected(camera));
    QVERIFY(page.plan().pos().isEmpty());
    QCOMPARE(page.speedLabel()->text(), QString());
}

void TestDataService::badInput()
{
    DataService page;
    page.show();
    // Nothing set up, or no target: the start button does nothing.
    QTest::mouseClick(page.startButton(), Qt::LeftButton);
    QVERIFY(!page.isRunning());

    // A folder that holds no photos is refused with its message; cancelling changes nothing.
    const QString empty = m_dir.filePath(QStringLiteral("notes"));
    QDir().mkpath(empty);
    QFile(empty + QStringLiteral("/readme.txt")).open(QIODevice::WriteOnly);
    QSignalSpy listed(&page, &DataService::folderListed);
    m_choosers->queue(empty);
    QTest::mouseClick(page.cameraIcon(3), Qt::LeftButton);
    QVERIFY(listed.wait(10000) || !listed.isEmpty());
    QVERIFY(waitForPrompt(QStringLiteral("目录下没有照片")));
    QVERIFY(!page.plan().selected(3));
    m_choosers->queue(QString());
    QTest::mouseClick(page.cameraIcon(3), Qt::LeftButton);
    QCOMPARE(m_choosers->asked(), 2);
    QVERIFY(!page.plan().selected(3));

    // Selected, then clicked again: deselected, its line and count gone.
    m_choosers->queue(photoFolder(0));
    QTest::mouseClick(page.cameraIcon(0), Qt::LeftButton);
    QTRY_VERIFY(page.plan().selected(0));
    QTest::mouseClick(page.cameraIcon(0), Qt::LeftButton);
    QVERIFY(!page.plan().selected(0));
    QCOMPARE(page.plan().plannedTotal(), 0);
    QCOMPARE(page.textArea()->toPlainText(), QString());

    // A table that cannot be read says so and is not added; the same table twice counts once.
    const QString broken = m_dir.filePath(QStringLiteral("broken.xls"));
    QFile(broken).open(QIODevice::WriteOnly);
    m_choosers->queue(broken);
    QTest::mouseClick(page.posAddButton(), Qt::LeftButton);
    QVERIFY(waitForPrompt(QStringLiteral("POS文件读取失败 / ") + broken));
    QVERIFY(page.plan().pos().isEmpty());
    QVERIFY(!page.textArea()->toPlainText().contains(broken));
    for (int i = 0; i < 2; ++i) {
        m_choosers->queue(m_pos);
        QTest::mouseClick(page.posAddButton(), Qt::LeftButton);
        QTRY_VERIFY(page.posAddButton()->isEnabled() && !page.plan().pos().isEmpty());
    }
    QCOMPARE(page.plan().pos().size(), 1);
    QCOMPARE(page.textArea()->toPlainText().count(m_pos), 1);
    QTest::mouseClick(page.posCancelButton(), Qt::LeftButton);
    QVERIFY(page.plan().pos().isEmpty());
    QCOMPARE(page.textArea()->toPlainText(), QString());

}

void TestDataService::targetWithoutRoom()
{
    if (::geteuid() != 0)
        QSKIP("a target without room needs root to mount a small file system");
    DataService page;
    page.show();
    const QString small = m_dir.filePath(QStringLiteral("small"));
    QDir().mkpath(small);
    QCOMPARE(QProcess::execute(QStringLiteral("mount"),
                               {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                QStringLiteral("size=1m"), QStringLiteral("tmpfs"), small}),
             0);
    auto unmount = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {small}); });
    m_target = small;
    setUpFive(&page, false);
    if (QTest::currentTestFailed())
        return;
    // The prompt names the target's volume by its mount root, and nothing starts.
    QTest::mouseClick(page.startButton(), Qt::LeftButton);
    QVERIFY(waitForPrompt(small + QStringLiteral("盘空间不足,请重新选择目录！")));
    QVERIFY(!page.isRunning());
    QVERIFY(!QFile::exists(page.run()->configPath()));
    QCOMPARE(OffloadFixture::filesBelow(small), QStringList());
}

void TestDataService::cardArrivals()
{
    DataService page;
    page.show();
    CameraCards *cards = CameraCards::instance();
    const QString front = cards->root(3);
    QCOMPARE(front, card(3));

    // Before any card arrived and any offload started, a removal is not even mentioned.
    cards->setIgnoreRemovals(true);
    const QString away = m_dir.filePath(QStringLiteral("away-Back"));
    QVERIFY(QDir().rename(card(4), away));
    QTRY_VERIFY(!cards->present(4));
    QVERIFY(QDir().rename(away, card(4)));
    QVERIFY(waitForPrompt(QStringLiteral("有新的设备插入！")));
    QVERIFY(!cards->ignoreRemovals());
    QVERIFY(!m_prompts->texts().contains(QStringLiteral("设备被移除！")));

    // With nothing set up an arrival reassigns: a later card naming the front camera wins.
    const QString second = QDir(g_media).filePath(QStringLiteral("zFRONT_2"));
    QVERIFY(QDir().mkdir(second));
    QVERIFY(waitForPrompt(QStringLiteral("有新的设备插入！"), 2));
    QCOMPARE(cards->root(3), second);
    QVERIFY(cards->present(3));
    // A removal now is told, and the card keeps its camera.
    QVERIFY(QDir().rmdir(second));
    QVERIFY(waitForPrompt(QStringLiteral("设备被移除！")));
    QCOMPARE(cards->root(3), second);
    QVERIFY(!cards->present(3));
    QVERIFY(!page.isRunning() && !page.isPaused());
}

void TestDataService::pauseAndResume()
{
    // Held: the front camera before its sixth file (V7_OFFLOAD_FAULT=3:5:start:wait).
    DataService page;
    page.show();
    setUpFive(&page, false);
    if (QTest::currentTestFailed())
        return;
    QTest::mouseClick(page.startButton(), Qt::LeftButton);
    waitForHold(&page, 3, 5);
    if (QTest::currentTestFailed())
        return;
    // Readings go on while one camera stands: nothing new in the last second, time unknown.
    QSignalSpy tick(page.progressTimer(), &QTimer::timeout);
    QVERIFY(tick.wait(3000));
    QVERIFY(tick.wait(3000));
    QCOMPARE(page.speedLabel()->text(), QStringLiteral("0.0M/s"));
    QVERIFY2(page.timeLeftLabel()->text().startsWith(QStringLiteral("剩余时间：")),
             qPrintable(page.timeLeftLabel()->text()));
    QVERIFY(page.textArea()->toPlainText().contains(
        QStringLiteral("%1共%2张,已传%3张").arg(photoFolder(3)).arg(PhotosPerCard).arg(3)));
    QCOMPARE(page.progressBar()->value(), 4 * PhotosPerCard + 3);
    QTest::mouseClick(page.startButton(), Qt::LeftButton);
    QVERIFY(!page.isRunning() && page.isPaused());
    QTRY_VERIFY(!page.run()->busy());
    const OffloadRun::Progress paused = page.run()->progress();
    QVERIFY(!paused.running);
    QCOMPARE(paused.cameras[3].filesDone, 5);
    QCOMPARE(page.speedLabel()->text(), QString());
    // The same tasks go on: nothing is listed or copied again.
    QTest::mouseClick(page.startButton(), Qt::LeftButton);
    QVERIFY(page.isRunning());
    QVERIFY(waitForPrompt(QStringLiteral("传输已经完成！")));
    verifyTarget(false);
}

void TestDataService::cardPulledMidCopy()
{
    // Held: the right camera before its fifth file (V7_OFFLOAD_FAULT=2:4:start:wait).
    DataService page;
    page.show();
    setUpFive(&page, true);
    if (QTest::currentTestFailed())
        return;
    QTest::mouseClick(page.startButton(), Qt::LeftButton);
    waitForHold(&page, 2, 4);
    if (QTest::currentTestFailed())
        return;
    const QString away = m_dir.filePath(QStringLiteral("pulled-Right"));
    QVERIFY(QDir().rename(card(2), away));
    QVERIFY(waitForPrompt(QStringLiteral("设备被移除！")));
    QVERIFY(!page.isRunning() && page.isPaused());
    QTRY_VERIFY(!page.run()->busy());
    QCOMPARE(page.run()->progress().cameras[2].filesDone, 4);

    m_prompts->answerQuestionsWith(true);
    QVERIFY(QDir().rename(away, card(2)));
    QVERIFY(waitForPrompt(QStringLiteral("有新的设备插入,是否继续?")));
    QVERIFY(waitForPrompt(QStringLiteral("传输已经完成！")));
    QVERIFY(!m_prompts->texts().contains(QStringLiteral("有新的设备插入！")));
    verifyTarget(false);
}

void TestDataService::closedMidOffload()
{
    // Held: the centre camera before its fourth file (V7_OFFLOAD_FAULT=0:3:start:wait).
    QString configPath;
    {
        DataService page;
        page.show();
        setUpFive(&page, true);
        if (QTest::currentTestFailed())
            return;
        QTest::mouseClick(page.startButton(), Qt::LeftButton);
        waitForHold(&page, 0, 3);
        if (QTest::currentTestFailed())
            return;
        page.onsignalclose();
        configPath = page.run()->configPath();
    }
    const QByteArray saved = OffloadFixture::fileBytes(configPath);
    QVERIFY2(saved.contains("<tasksuccess flag=\"false\"/>"), saved.constData());
    QVERIFY(saved.contains("hascount=\"3\""));

    DataService page;
    page.show();
    // Declined: nothing runs, the file stays, and the next visit asks again.
    m_prompts->answerQuestionsWith(false);
    page.offerResume();
    QVERIFY(waitForPrompt(QStringLiteral("是否继续上次任务？")));
    QVERIFY(!page.isRunning());
    QCOMPARE(OffloadFixture::fileBytes(configPath), saved);
    page.offerResume();
    QVERIFY(waitForPrompt(QStringLiteral("是否继续上次任务？"), 2));
    QVERIFY(!page.isRunning());

    m_prompts->answerQuestionsWith(true);
    page.offerResume();
    QVERIFY(waitForPrompt(QStringLiteral("是否继续上次任务？"), 3));
    QVERIFY(page.isRunning());
    QCOMPARE(page.plan().doneTotal(), 4 * PhotosPerCard + 3);
    QCOMPARE(page.targetLabel()->text(), m_target);
    QVERIFY(waitForPrompt(QStringLiteral("传输已经完成！")));
    QVERIFY(OffloadFixture::fileBytes(configPath).contains("<tasksuccess flag=\"true\"/>"));
    verifyTarget(false);
    // Every photo has its row once in its camera's photo information table.
    const QByteArray centre = OffloadFixture::fileBytes(
        QDir(qEnvironmentVariable("V7_STATE_DIR")).filePath(QStringLiteral("center.txt")));
    QCOMPARE(centre.count(".JPG"), PhotosPerCard);
}

int main(int argc, char *argv[])
{
    // The cards' folder must be known before the program's first volume query.
    QTemporaryDir media;
    g_media = media.path();
    qputenv("V7_MEDIA_ROOT", QFile::encodeName(g_media));
    QApplication app(argc, argv);
    TestDataService test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dataservice.moc"
