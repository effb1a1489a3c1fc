// The offload page driven through its widgets, offscreen, against cards that are folders of a
// V7_MEDIA_ROOT: a complete offload with POS data and block files, bad input, card arrivals,
// pause and resume, a card pulled mid-copy, the window closed mid-offload and resumed by a new
// page. Each interruption runs in a process of its own (see CMakeLists.txt): V7_OFFLOAD_FAULT
// holds one camera before writing one file until the engine is paused.
#include <QtTest>

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QTextEdit>

#include <unistd.h>

#include "appsettings.h"
#include "cameracards.h"
#include "chooseranswers.h"
#include "camsimprocess.h"
#include "dataservice.h"
#include "faultpoints.h"
#include "flightreport.h"
#include "jpegscan.h"
#include "mylabel.h"
#include "offloadfixture.h"
#include "offloadrun.h"
#include "operatortexts.h"
#include "sortieblocks.h"

using namespace OffloadFixture;

namespace {

constexpr int SmallPhotos = 8; // sample photos per card
constexpr int LargePhotos = 4; // generated photos of a survey camera's size per card
constexpr int PhotosPerCard = SmallPhotos + LargePhotos;
const char *const kLabels[Cameras::Count] = {"Center", "Left", "Right", "Front", "Back"};

QString g_media; // V7_MEDIA_ROOT, set before the program's first volume query

QString card(int camera)
{
    return QDir(g_media).filePath(QLatin1String(kLabels[camera]));
}

QString photoFolder(int camera)
{
    return card(camera) + QStringLiteral("/DCIM/100MSDCF");
}

// Words of the program's own language that are not Chinese: runs of three or more ASCII letters
// once paths, file names and the few technical names the texts use are taken out.
QStringList latinWords(QString text)
{
    text.remove(
        QRegularExpression(QStringLiteral("[^\\s：（）“”，、；]*[/.][^\\s：（）“”，、；]*")));
    QStringList words;
    for (const QRegularExpressionMatch &m :
         QRegularExpression(QStringLiteral("[A-Za-z]{3,}")).globalMatch(text)) {
        if (!QStringList{"POS", "CSV", "ODM"}.contains(m.captured()))
            words << m.captured();
    }
    return words;
}

QByteArray scanData(const QString &path)
{
    const QByteArray bytes = fileBytes(path);
    const size_t start = JpegScan::scanStart(reinterpret_cast<const uchar *>(bytes.constData()),
                                             size_t(bytes.size()));
    return start ? bytes.mid(qsizetype(start)) : QByteArray();
}

} // namespace

class TestDataService : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void everyOutcomeInChinese();
    void fullOffload();
    void badInput();
    void targetWithoutRoom_data();
    void targetWithoutRoom();
    void backupFolder_data();
    void backupFolder();
    void cardArrivals();
    void pauseAndResume();
    void cardPulledMidCopy();
    void closedMidOffload();
    void unreadablePhoto();
    void stateProblems();

private:
    // The page shown, every camera icon clicked and its chooser answered with the card's photo
    // folder (its root with cardRoot), then the target, and with pos the POS table.
    bool setUpFive(DataService *page, bool pos, bool cardRoot = false);
    bool waitForPrompt(const QString &text, int count = 1)
    {
        return QTest::qWaitFor([&] { return m_prompts->texts().count(text) >= count; }, 90000) ||
               (qWarning() << "prompts so far:" << m_prompts->texts(), false);
    }
    bool waitForPromptWith(const QString &part)
    {
        return QTest::qWaitFor([&] { return !m_prompts->texts().filter(part).isEmpty(); }, 60000);
    }
    // Set up and started; true once held by the fault point before camera's file index.
    bool startHeld(DataService *page, bool pos, int camera, int index);
    // Every camera's copies, verified; ticked: in the first sortie's folder, named with their
    // camera first (the boxes for both ticked).
    void verifyTarget(bool ticked);

    QTemporaryDir m_dir;
    QString m_target;
    QString m_pos;
    std::unique_ptr<PromptCatcher> m_prompts;
    std::unique_ptr<ChooserAnswers> m_choosers;
};

void TestDataService::initTestCase()
{
    // Photos of a survey camera's size: noise does not compress.
    QImage large(3000, 2000, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < large.height(); ++y)
        random.fillRange(reinterpret_cast<quint32 *>(large.scanLine(y)), large.width());
    const QString largePhoto = m_dir.filePath(QStringLiteral("large.jpg"));
    QVERIFY(large.save(largePhoto, "JPEG", 92));
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        QVERIFY(makeCard(photoFolder(camera), SmallPhotos, 0, camera));
        for (int i = SmallPhotos + 1; i <= PhotosPerCard; ++i)
            QVERIFY(QFile::copy(largePhoto, QStringLiteral("%1/DSC%2.JPG")
                                                .arg(photoFolder(camera))
                                                .arg(i, 5, 10, QLatin1Char('0'))));
    }
    // One flight with a record for every photo of a card.
    QString table =
        QStringLiteral("ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\n");
    for (int i = 0; i < PhotosPerCard; ++i)
        table += QStringLiteral("%1\t%2\t23.1\t%3\t0\t0\t0\t0\t5.0\t2024/05/01 10:00:%4\n")
                     .arg(i + 1)
                     .arg(113.0 + i / 1000.0, 0, 'f', 6)
                     .arg(300 + i)
                     .arg(2 * i, 2, 10, QLatin1Char('0'));
    m_pos = m_dir.filePath(QStringLiteral("flight.xls"));
    QVERIFY(writeFile(m_pos, table.toUtf8()));
}

void TestDataService::init()
{
    m_target = m_dir.filePath(QStringLiteral("target-") + QTest::currentTestFunction());
    QDir().mkpath(m_target);
    m_prompts = std::make_unique<PromptCatcher>();
    m_choosers = std::make_unique<ChooserAnswers>();
    const QString saved = m_dir.filePath(QStringLiteral("pos-saved")); // the POS page's last
    QDir().mkpath(saved);
    AppSettings::setLastFolder(AppSettings::kPosSaveFolder, saved);
}

// Whatever a test made the page prompt is Chinese (the text area is looked at where it matters).
void TestDataService::cleanup()
{
    for (const QString &text : m_prompts->texts())
        QVERIFY2(latinWords(text).isEmpty(), qPrintable(text));
}

// Outcomes the tests below cannot easily bring about still read as Chinese, with their names.
void TestDataService::everyOutcomeInChinese()
{
    for (int code = OperatorOutcome::Other; code < OperatorOutcome::CodeCount; ++code) {
        const QString text = OperatorTexts::text(OperatorOutcome(
            OperatorOutcome::Code(code), {"/m/Front/a.JPG", "12", "/s/Taskconfig.xml"}, 3));
        QVERIFY2(text.startsWith(OperatorTexts::cameraName(3) + QStringLiteral("：")) &&
                     text.size() > 6 && latinWords(text).isEmpty(),
                 qPrintable(QStringLiteral("%1: %2").arg(code).arg(text)));
    }
    for (int error : {EIO, ENOSPC, EACCES, 1234})
        QVERIFY(latinWords(OperatorTexts::systemError(error)).isEmpty());
}

bool TestDataService::setUpFive(DataService *page, bool pos, bool cardRoot)
{
    page->show();
    m_choosers->asked.clear();
    QStringList expected; // each chooser titled "请选择", a camera's on its card's DCIM folder
    for (int camera : OffloadPlan::IconOrder) {
        QSignalSpy listed(page, &DataService::folderListed);
        m_choosers->answers << (cardRoot ? card(camera) : photoFolder(camera));
        expected << QStringLiteral("请选择@") + card(camera) + QStringLiteral("/DCIM");
        QTest::mouseClick(page->cameraIcon(camera), Qt::LeftButton);
        if (!listed.wait(10000) && listed.isEmpty())
            return false;
    }
    // The target and table choosers open where the last choice went; the table's at first where
    // the POS page saved a download.
    expected << QStringLiteral("请选择@") +
                    AppSettings::startFolder(AppSettings::kOffloadTargetFolder);
    const QString posStart = AppSettings::lastFolder(AppSettings::kOffloadPosFolder);
    expected << QStringLiteral("请选择@") +
                    (posStart.isEmpty() ? AppSettings::lastFolder(AppSettings::kPosSaveFolder)
                                        : posStart);
    QSignalSpy measured(page, &DataService::targetMeasured);
    m_choosers->answers << m_target;
    QTest::mouseClick(page->targetButton(), Qt::LeftButton);
    if (!measured.wait(10000) && measured.isEmpty())
        return false;
    if (pos) {
        m_choosers->answers << m_pos;
        QTest::mouseClick(page->posAddButton(), Qt::LeftButton);
        const QString added = QStringLiteral("%1   POS个数%2添加成功 ").arg(m_pos).arg(PhotosPerCard);
        if (!QTest::qWaitFor([&] { return page->textArea()->toPlainText().contains(added); }))
            return false;
    }
    QStringList asked;
    for (const QStringList &chooser : m_choosers->asked)
        asked << chooser.mid(0, 2).join('@');
    return asked == expected.mid(0, asked.size()) &&
           AppSettings::lastFolder(AppSettings::kOffloadTargetFolder) == m_target &&
           (!pos || AppSettings::lastFolder(AppSettings::kOffloadPosFolder) == m_dir.path()) &&
           page->plan().plannedTotal() == Cameras::Count * PhotosPerCard;
}

void TestDataService::verifyTarget(bool ticked)
{
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        const QString folder = QDir(m_target).filePath(QLatin1String(Cameras::folderName(camera)));
        const QStringList copies = filesBelow(folder).filter(QStringLiteral(".JPG"));
        checkList(folder, PhotosPerCard); // one checksum line per photo
        QCOMPARE(copies.size(), PhotosPerCard);
        const QString prefix = Cameras::folderName(camera) + QLatin1Char('_');
        for (const QString &copy : copies) {
            QCOMPARE(copy.startsWith(SortieBlocks::sortieFolderName(1)), ticked);
            const QString name = QFileInfo(copy).fileName();
            QCOMPARE(name.startsWith(prefix), ticked);
            // Tagging rewrites the header; the picture is the card's, byte for byte.
            const QByteArray original = scanData(photoFolder(camera) + QLatin1Char('/') +
                                                 name.mid(ticked ? prefix.size() : 0));
            QVERIFY(!original.isEmpty());
            QCOMPARE(scanData(folder + QLatin1Char('/') + copy), original);
        }
    }
}

void TestDataService::fullOffload()
{
    DataService page;
    QVERIFY(setUpFive(&page, true));
    for (int camera = 0; camera < Cameras::Count; ++camera)
        QVERIFY(page.textArea()->toPlainText().contains(
            QStringLiteral("%1共%2张\n").arg(photoFolder(camera)).arg(PhotosPerCard)));
    QTest::mouseClick(page.sortieBox(), Qt::LeftButton);
    QTest::mouseClick(page.findChild<QCheckBox *>(QStringLiteral("prefixBox")), Qt::LeftButton);

    // What the operator saw on the way.
    QString completeText;
    bool lookShown = false;
    connect(page.textArea(), &QTextEdit::textChanged, this, [&] {
        if (page.textArea()->toPlainText().contains(QStringLiteral("传输已完成")))
            completeText = page.textArea()->toPlainText();
        lookShown = lookShown || (page.textArea()->toPlainText().contains(
                                      QStringLiteral("可以取下存储卡。\n正在检查影像质量（")) &&
                                  page.isFinishing());
    });
    QTest::mouseClick(page.startButton(), Qt::LeftButton);
    QVERIFY(page.isRunning());
    QVERIFY(waitForPrompt(QStringLiteral("传输已经完成！")));

    verifyTarget(true);
    // Reset: a clean page that still shows the result (bar full, the last reading, the report's
    // summary) and links the report.
    QVERIFY(page.isCompleted() && !page.isRunning() && !page.sortieBox()->isChecked());
    const QString report = QDir(m_target).filePath(FlightReport::htmlFileName());
    QVERIFY(QFile::exists(report));
    QVERIFY(page.reportLink()->isVisible());
    QVERIFY2(page.reportLink()->text().contains(
                 "href=\"" + QUrl::fromLocalFile(report).toString(QUrl::FullyEncoded) + '"'),
             qPrintable(page.reportLink()->text()));
    QVERIFY2(page.textArea()->toPlainText().contains(
                 QStringLiteral("传输已完成\n传输报告：照片与POS记录一一对应")),
             qPrintable(page.textArea()->toPlainText()));
    // The look at the copies was shown until the report was written, and its lines follow.
    QVERIFY(lookShown);
    QVERIFY(page.run()->qualitySummary().first().startsWith(
        QStringLiteral("影像质量：检查%1张").arg(Cameras::Count * PhotosPerCard)));
    QVERIFY(page.textArea()->toPlainText().contains(page.run()->qualitySummary().join('\n')));
    QCOMPARE(page.progressBar()->value(), Cameras::Count * PhotosPerCard);
    QCOMPARE(page.progressBar()->maximum(), Cameras::Count * PhotosPerCard);
    // Offscreen, nothing opens the report: the operator is told so.
    QTest::mouseClick(page.reportLink(), Qt::LeftButton, {},
                      QPoint(page.reportLink()->width() - 8, page.reportLink()->height() / 2));
    QVERIFY(waitForPrompt(QStringLiteral("未找到能打开传输报告的程序！ / ") + report));
    QVERIFY(page.plan().pos().isEmpty());
    QCOMPARE(page.plan().plannedTotal(), 0);
    // The next offload's set-up clears the last one's result.
    page.setTargetFolder(m_target);
    QVERIFY(page.progressBar()->value() == 0 && !page.reportLink()->isVisible());

    // The same offload again: every copy is found verified and none made again, as it says.
    QVERIFY(setUpFive(&page, true));
    QTest::mouseClick(page.sortieBox(), Qt::LeftButton);
    QTest::mouseClick(page.findChild<QCheckBox *>(QStringLiteral("prefixBox")), Qt::LeftButton);
    QTest::mouseClick(page.startButton(), Qt::LeftButton);
    QVERIFY(waitForPrompt(QStringLiteral("传输已经完成！"), 2));
    QVERIFY2(completeText.contains(QStringLiteral("目标目录已有%1个校验无误的副本,已跳过")
                                       .arg(Cameras::Count * PhotosPerCard)),
             qPrintable(completeText));
    QCOMPARE(fileBytes(QDir(m_target).filePath(SortieBlocks::fileName(1))).count("<Photo>"),
             Cameras::Count * PhotosPerCard);
}

void TestDataService::badInput()
{
    DataService page;
    page.show();
    const auto select = [&](int camera, const QString &folder) {
        m_choosers->answers << folder;
        QTest::mouseClick(page.cameraIcon(camera), Qt::LeftButton);
    };
    // Nothing set up, then no target: each said, nothing runs.
    QTest::mouseClick(page.startButton(), Qt::LeftButton);
    QVERIFY(waitForPrompt(QStringLiteral("请先选择相机照片目录！")));
    select(1, photoFolder(1));
    QTRY_VERIFY(page.plan().selected(1));
    QTest::mouseClick(page.startButton(), Qt::LeftButton);
    QVERIFY(waitForPrompt(QStringLiteral("请先选择保存目录！")));
    QVERIFY(!page.isRunning());

    // A folder that holds no photos is refused with its message.
    const QString notes = m_dir.filePath(QStringLiteral("notes"));
    QDir().mkpath(notes);
    QFile(notes + QStringLiteral("/readme.txt")).open(QIODevice::WriteOnly);
    select(3, notes);
    QVERIFY(waitForPrompt(QStringLiteral("目录下没有照片")));
    QVERIFY(!page.plan().selected(3));

    // A table that is not one says why and is not added, but stays listed and holds up the
    // start until the POS choice is cancelled; the same good table twice counts once.
    const QString broken = m_dir.filePath(QStringLiteral("broken.xls"));
    QFile(broken).open(QIODevice::WriteOnly);
    m_choosers->answers << broken;
    QTest::mouseClick(page.posAddButton(), Qt::LeftButton);
    const QString refusal =
        QStringLiteral("POS文件读取失败 / %1：文件为空，没有表头也没有POS记录").arg(broken);
    QVERIFY(waitForPrompt(refusal));
    for (int i = 0; i < 2; ++i) {
        m_choosers->answers << m_pos;
        QTest::mouseClick(page.posAddButton(), Qt::LeftButton);
        QTRY_VERIFY(page.posAddButton()->isEnabled() && !page.plan().pos().isEmpty());
    }
    QCOMPARE(page.plan().pos().size(), 1);
    QCOMPARE(page.textArea()->toPlainText().count(QStringLiteral(".xls")), 2);
    QVERIFY(page.textArea()->toPlainText().contains(refusal.mid(refusal.indexOf(broken))));
    page.setTargetFolder(m_target);
    QTest::mouseClick(page.startButton(), Qt::LeftButton);
    QVERIFY(waitForPrompt(refusal, 2));
    QVERIFY(!page.isRunning());
    QTest::mouseClick(page.posCancelButton(), Qt::LeftButton);
    QVERIFY(page.plan().pos().isEmpty() && page.plan().posRefusal().isEmpty());
    QVERIFY(!page.textArea()->toPlainText().contains(QStringLiteral(".xls")));

    // Clicked again once selected: deselected, its line and count gone.
    QTest::mouseClick(page.cameraIcon(1), Qt::LeftButton);
    QVERIFY(!page.plan().selected(1));
    QCOMPARE(page.plan().plannedTotal(), 0);
    QCOMPARE(page.textArea()->toPlainText(), QString());
}

void TestDataService::targetWithoutRoom_data()
{
    QTest::addColumn<bool>("cardRoot");
    QTest::newRow("photo folders") << false;
    // The photos two folders down count as much as the engine copies them.
    QTest::newRow("card roots") << true;
}

void TestDataService::targetWithoutRoom()
{
    QFETCH(bool, cardRoot);
    if (::geteuid() != 0)
        QSKIP("a target without room needs root to mount a small file system");
    DataService page;
    QCOMPARE(QProcess::execute(QStringLiteral("mount"),
                               {"-t", "tmpfs", "-o", "size=1m", "tmpfs", m_target}),
             0);
    auto unmount = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {m_target}); });
    QVERIFY(setUpFive(&page, false, cardRoot));
    // The prompt names the target's volume by its mount root, and nothing starts.
    QTest::mouseClick(page.startButton(), Qt::LeftButton);
    QVERIFY(waitForPrompt(m_target + QStringLiteral("盘空间不足,请重新选择目录！")));
    QVERIFY(!page.isRunning());
    QCOMPARE(filesBelow(m_target), QStringList());
}

void TestDataService::backupFolder_data()
{
    QTest::addColumn<bool>("otherDisk");
    QTest::newRow("on another disk") << true;
    QTest::newRow("on the target's disk") << false;
}

// The second target chosen through its chooser, its free space shown; on another disk the
// offload fills it as it fills the target, on the target's own it is refused before anything.
void TestDataService::backupFolder()
{
    QFETCH(bool, otherDisk);
    QTemporaryDir shm(QStringLiteral("/dev/shm/v7page-XXXXXX"));
    if (otherDisk && !shm.isValid())
        QSKIP("no tmpfs at /dev/shm for the backup; not run");
    const QString backup = otherDisk ? shm.filePath(QStringLiteral("second"))
                                     : m_dir.filePath(QStringLiteral("second"));
    QVERIFY(QDir().mkpath(backup));
    DataService page;
    QVERIFY(setUpFive(&page, false));
    QVERIFY(page.backupLabel()->text().isEmpty() && !page.backupClearLink()->isVisible());
    QSignalSpy measured(&page, &DataService::backupMeasured);
    m_choosers->answers << backup;
    QTest::mouseClick(page.backupButton(), Qt::LeftButton);
    QVERIFY(measured.wait(10000) || !measured.isEmpty());
    QCOMPARE(page.backupLabel()->text(), backup);
    QVERIFY2(QRegularExpression(QStringLiteral("^可用[0-9]+\\.[0-9] GB$"))
                 .match(page.backupFreeLabel()->text())
                 .hasMatch(),
             qPrintable(page.backupFreeLabel()->text()));
    QCOMPARE(AppSettings::lastFolder(AppSettings::kOffloadBackupFolder), backup);
    QTest::mouseClick(page.startButton(), Qt::LeftButton);
    if (!otherDisk) {
        QVERIFY(waitForPrompt(QStringLiteral("备份目录与目标目录在同一磁盘上,请选择其他磁盘！ / ") +
                              backup + '\n' + m_target));
        QVERIFY(!page.isRunning());
        QCOMPARE(filesBelow(backup), QStringList());
        // "不备份" takes the choice back.
        QTest::mouseClick(page.backupClearLink(), Qt::LeftButton);
        QVERIFY(page.backupLabel()->text().isEmpty() && page.plan().backup.isEmpty());
        return;
    }
    QVERIFY(waitForPrompt(QStringLiteral("传输已经完成！")));
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        const QString first = QDir(m_target).filePath(QLatin1String(Cameras::folderName(camera)));
        const QString second = QDir(backup).filePath(QLatin1String(Cameras::folderName(camera)));
        QCOMPARE(filesBelow(second), filesBelow(first));
        for (const QString &file : filesBelow(first))
            QVERIFY2(fileBytes(first + '/' + file) == fileBytes(second + '/' + file),
                     qPrintable(file));
        checkList(second, PhotosPerCard);
    }
    QVERIFY(QFile::exists(QDir(backup).filePath(FlightReport::htmlFileName())));
    // The choice stays for the next offload, as the target does.
    QCOMPARE(page.plan().backup, backup);
}

void TestDataService::cardArrivals()
{
    DataService page;
    page.show();
    CameraCards *cards = CameraCards::instance();
    QCOMPARE(cards->root(3), card(3));
    // Before any arrival and any start, a removal is not even mentioned.
    cards->setIgnoreRemovals(true);
    const QString away = m_dir.filePath(QStringLiteral("away"));
    QVERIFY(QDir().rename(card(4), away));
    QTRY_VERIFY(!cards->present(4));
    QVERIFY(QDir().rename(away, card(4)));
    QVERIFY(waitForPrompt(QStringLiteral("有新的设备插入！")));
    QVERIFY(!m_prompts->texts().contains(QStringLiteral("设备被移除！")));
    // Nothing set up: an arrival reassigns, and a later card naming the front camera wins.
    const QString second = QDir(g_media).filePath(QStringLiteral("zFRONT_2"));
    QVERIFY(QDir().mkdir(second));
    QVERIFY(waitForPrompt(QStringLiteral("有新的设备插入！"), 2));
    QCOMPARE(cards->root(3), second);
    // A removal is told now; the card keeps its camera.
    QVERIFY(QDir().rmdir(second));
    QVERIFY(waitForPrompt(QStringLiteral("设备被移除！")));
    QCOMPARE(cards->root(3), second);
    QVERIFY(!cards->present(3) && !page.isPaused());
}

bool TestDataService::startHeld(DataService *page, bool pos, int camera, int index)
{
    if (!setUpFive(page, pos))
        return false;
    QTest::mouseClick(page->startButton(), Qt::LeftButton);
    // Held before writing file index, the files before it written and not all counted yet:
    // copies are counted a group at a time, once on the disk.
    return QTest::qWaitFor(
        [&] {
            const OffloadRun::Progress p = page->run()->progress();
            for (int c = 0; c < Cameras::Count; ++c) {
                if (c == camera ? p.cameras[c].filesDone >= index
                                : p.cameras[c].filesDone != PhotosPerCard)
                    return false;
            }
            return FaultPoints::fired() > 0;
        },
        60000);
}

void TestDataService::pauseAndResume()
{
    // V7_OFFLOAD_FAULT=3:7:start:wait: the front camera holds before writing its eighth file.
    DataService page;
    QVERIFY(startHeld(&page, false, 3, 7));
    // Readings go on while one camera stands: nothing new in the last second.
    QSignalSpy tick(page.progressTimer(), &QTimer::timeout);
    QVERIFY(tick.wait(3000) && tick.wait(3000));
    QCOMPARE(page.speedLabel()->text(), QStringLiteral("0.0M/s"));
    QVERIFY(page.timeLeftLabel()->text().startsWith(QStringLiteral("剩余时间：约")));
    // What it shows is what is counted.
    const int counted = page.run()->progress().cameras[3].filesDone;
    QVERIFY(page.textArea()->toPlainText().contains(
        QStringLiteral("%1共%2张,已传%3张").arg(photoFolder(3)).arg(PhotosPerCard).arg(counted)));
    QCOMPARE(page.progressBar()->value(), 4 * PhotosPerCard + counted);

    QTest::mouseClick(page.startButton(), Qt::LeftButton);
    QVERIFY(!page.isRunning() && page.isPaused());
    QTRY_VERIFY(!page.run()->busy());
    QCOMPARE(page.run()->progress().cameras[3].filesDone, 7); // the pause counted those in hand
    QVERIFY(!page.run()->progress().running && page.speedLabel()->text().isEmpty());
    QTest::mouseClick(page.startButton(), Qt::LeftButton); // the same tasks go on
    QVERIFY(page.isRunning());
    QVERIFY(waitForPrompt(QStringLiteral("传输已经完成！")));
    verifyTarget(false);
}

void TestDataService::cardPulledMidCopy()
{
    // V7_OFFLOAD_FAULT=2:4:start:wait: the right camera holds before writing its fifth file.
    DataService page;
    QVERIFY(startHeld(&page, true, 2, 4));
    const QString away = m_dir.filePath(QStringLiteral("pulled"));
    QVERIFY(QDir().rename(card(2), away));
    QVERIFY(waitForPrompt(QStringLiteral("设备被移除！")));
    QVERIFY(!page.isRunning() && page.isPaused());
    QTRY_VERIFY(!page.run()->busy());
    QCOMPARE(page.run()->progress().cameras[2].filesDone, 4);

    m_prompts->answerQuestionsWith(true);
    // The front card where the right one was: refused with the reason, the offload stays paused.
    QCOMPARE(runIn(m_dir.path(), QStringLiteral("cp"), {"-a", card(3), card(2)}), 0);
    QVERIFY(waitForPrompt(QStringLiteral("有新的设备插入,是否继续?")));
    QVERIFY(waitForPromptWith(
        QStringLiteral("右视相机：%1处不是本次传输的相机卡").arg(photoFolder(2))));
    QVERIFY(!page.isRunning() && page.isPaused());
    QCOMPARE(page.run()->progress().cameras[2].filesDone, 4);
    QVERIFY(QDir(card(2)).removeRecursively());
    QVERIFY(waitForPrompt(QStringLiteral("设备被移除！"), 2));
    QVERIFY(QDir().rename(away, card(2)));
    QVERIFY(waitForPrompt(QStringLiteral("有新的设备插入,是否继续?"), 2));
    QVERIFY(waitForPrompt(QStringLiteral("传输已经完成！")));
    QVERIFY(!m_prompts->texts().contains(QStringLiteral("有新的设备插入！")));
    verifyTarget(false);
}

void TestDataService::closedMidOffload()
{
    // V7_OFFLOAD_FAULT=0:3:start:wait,0:5:start:wait: the centre camera holds before writing
    // its fourth file, and in the resumed offload again before its sixth.
    QString configPath;
    {
        DataService page;
        QVERIFY(startHeld(&page, true, 0, 3));
        page.onsignalclose();
        configPath = page.run()->configPath();
    }
    const QByteArray saved = fileBytes(configPath);
    QVERIFY2(saved.contains("<tasksuccess flag=\"false\"/>") && saved.contains("hascount=\"3\""),
             saved.constData());

    // Declined: nothing runs, the file stays, and the next visit asks again.
    DataService page;
    page.show();
    page.offerResume();
    QVERIFY(waitForPrompt(QStringLiteral("是否继续上次任务？")));
    page.offerResume();
    QVERIFY(waitForPrompt(QStringLiteral("是否继续上次任务？"), 2));
    QVERIFY(!page.isRunning());
    QCOMPARE(fileBytes(configPath), saved);

    m_prompts->answerQuestionsWith(true);
    page.offerResume();
    QVERIFY(page.isRunning());
    QCOMPARE(page.plan().doneTotal(), 4 * PhotosPerCard + 3);
    QCOMPARE(page.targetLabel()->text(), m_target);
    // Held again with nothing new done: the first run's work gives no pace for the rest.
    QVERIFY(QTest::qWaitFor([&] { return page.run()->progress().cameras[0].filesDone == 3; }));
    QSignalSpy tick(page.progressTimer(), &QTimer::timeout);
    QVERIFY(tick.wait(3000));
    QCOMPARE(page.timeLeftLabel()->text(), QStringLiteral("剩余时间：计算中"));
    QTest::mouseClick(page.startButton(), Qt::LeftButton);
    QTRY_VERIFY(!page.run()->busy());
    QTest::mouseClick(page.startButton(), Qt::LeftButton);
    QVERIFY(waitForPrompt(QStringLiteral("传输已经完成！")));
    QVERIFY(fileBytes(configPath).contains("<tasksuccess flag=\"true\"/>"));
    verifyTarget(false);
    // Every photo has its row once in its camera's photo information table.
    const QString table =
        QDir(qEnvironmentVariable("V7_STATE_DIR")).filePath(QStringLiteral("center.txt"));
    QCOMPARE(fileBytes(table).count(".JPG"), PhotosPerCard);
}

void TestDataService::unreadablePhoto()
{
    // V7_OFFLOAD_FAULT=4:3:opened:eio: the back camera's fourth photo reads with an I/O error.
    const QString tooLong =
        QStringLiteral("%1/%2.JPG").arg(QString(150, 'd'), QString(150, 'n'));
    QVERIFY(writeFile(photoFolder(4) + '/' + tooLong, "long"));
    DataService page;
    QVERIFY(setUpFive(&page, false));
    QTest::mouseClick(page.startButton(), Qt::LeftButton);
    // Every engine has ended: the page stops as if paused and names both files.
    QVERIFY(QTest::qWaitFor([&] { return page.isPaused(); }, 90000));
    const QString text = page.textArea()->toPlainText();
    QVERIFY2(text.contains(QStringLiteral("%1共%2张,已传%3张\n  未能传输：DSC00004.JPG：读取失败（读写错误）")
                               .arg(photoFolder(4))
                               .arg(PhotosPerCard)
                               .arg(PhotosPerCard - 1)) &&
                 text.contains(QStringLiteral("已跳过：") + tooLong + QStringLiteral("：路径过长")) &&
                 latinWords(text).isEmpty(),
             qPrintable(text));
    QTest::mouseClick(page.startButton(), Qt::LeftButton); // the failed photo is tried again
    QVERIFY(waitForPrompt(QStringLiteral("传输已经完成！")));
    QVERIFY2(page.textArea()->toPlainText().contains(QStringLiteral("\n  已跳过：") + tooLong +
                                                     QStringLiteral("：路径过长\n传输已完成")),
             qPrintable(page.textArea()->toPlainText()));
    verifyTarget(false);
}

// What the operator is told when the state stands in the way: another program's offload holds
// the state folder, and a damaged "Taskconfig.xml" with the offer to rebuild from the cards and
// the target, taken up.
void TestDataService::stateProblems()
{
    {
        OffloadRun other;
        QString holder;
        QCOMPARE(other.lockState(&holder), OffloadRun::Failure::None);
        DataService page;
        QVERIFY(setUpFive(&page, false));
        QTest::mouseClick(page.startButton(), Qt::LeftButton);
        QVERIFY(waitForPromptWith(QStringLiteral("另一个传输任务（进程%1，").arg(::getpid())));
        QVERIFY(!page.isRunning());
        QVERIFY(filesBelow(m_target).isEmpty());
    }
    QString configPath;
    {
        OffloadRun run;
        OffloadSession::Setup setup;
        setup.sources[0] = photoFolder(0);
        setup.target = m_target;
        QString error;
        QVERIFY2(run.startNow(setup, &error), qPrintable(error));
        run.pauseNow();
        configPath = run.configPath();
    }
    QVERIFY(writeFile(configPath, "<config><pans><center path="));
    m_prompts->answerQuestionsWith(true);
    DataService page;
    page.show();
    page.offerResume();
    QVERIFY(waitForPromptWith(QStringLiteral("上次任务的记录%1已损坏，已另存为").arg(configPath)));
    QVERIFY(waitForPromptWith(QStringLiteral("是否从相机卡和目标目录重建并继续上次任务？")));
    QVERIFY(waitForPrompt(QStringLiteral("传输已经完成！")));
    const QString center = QDir(m_target).filePath(QStringLiteral("Center"));
    checkList(center, PhotosPerCard);
    QCOMPARE(filesBelow(center).filter(QStringLiteral(".JPG")).size(), PhotosPerCard);
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
