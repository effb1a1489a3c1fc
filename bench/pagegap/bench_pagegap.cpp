// How long the offload page ever keeps the GUI thread from its event loop with five full cards:
// the real page, offscreen, driven through its widgets as an operator would (camera icons and
// their choosers, the target, the POS table, "自动区分架次", start, the end prompt), while a
// 10 ms timer on the GUI thread records the longest interval between its ticks, apart for
// setting up, copying and finishing. Aim: under 100 ms in each.
//
// Cards: five folders of V7_BENCH_PHOTOS (20000) photos of about 50 KB, each with a capture time
// two seconds after the one before, and the flight's POS table with a record per photo; made
// once under V7_BENCH_DIR (/var/tmp/v7pagegap) and kept. Target and state are made anew per run.
// V7_BENCH_POS=0 leaves the table out; V7_BENCH_TRACE=1 prints every gap over 50 ms as it comes,
// with the GUI thread's processor time in it, its wait for a processor and, when it was late by
// 60 ms, where it stood in the kernel (a disk sync, a lock). V7_BENCH_SKIPPED=K puts K symbolic
// links on each card besides the photos: skipped and named one a line in the page's text area.
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTextEdit>
#include <QTimer>
#include <QTest>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

#include <unistd.h>
#include <functional>

#include "camsimprocess.h"
#include "cameras.h"
#include "dataservice.h"
#include "mylabel.h"
#include "offloadplan.h"
#include "offloadrun.h"

namespace {

const char *const kPhases[] = {"setting up", "copying", "finishing"};

// The GUI thread's time on a processor and waiting for one, in ns (/proc schedstat).
void schedTimes(qint64 *running, qint64 *waiting)
{
    QFile f(QStringLiteral("/proc/thread-self/schedstat"));
    const QList<QByteArray> fields =
        f.open(QIODevice::ReadOnly) ? f.readAll().split(' ') : QList<QByteArray>();
    *running = fields.size() > 1 ? fields.at(0).toLongLong() : 0;
    *waiting = fields.size() > 1 ? fields.at(1).toLongLong() : 0;
}

// The longest interval between ticks of a 10 ms timer on the GUI thread, per phase. Traced, a
// gap says how much of it the thread worked and how much it waited for a processor: the rest
// it was blocked (a system call, the disk).
struct GapMeter
{
    GapMeter()
    {
        trace = qEnvironmentVariableIntValue("V7_BENCH_TRACE") == 1;
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 gap = turn.restart();
            longest[phase] = std::max(longest[phase], gap);
            if (!trace)
                return;
            qint64 running = 0, waiting = 0;
            schedTimes(&running, &waiting);
            if (gap > 50) {
                std::lock_guard<std::mutex> guard(stuckLock);
                std::printf("  gap %lld ms while %s, %.1f s into it: worked %lld ms, waited for a "
                            "processor %lld ms%s%s\n",
                            gap, kPhases[phase], double(phaseClock.elapsed()) / 1000.0,
                            (running - lastRunning) / 1000000, (waiting - lastWaiting) / 1000000,
                            stuck.isEmpty() ? "" : "; meanwhile in the kernel: ", stuck.constData());
            }
            {
                std::lock_guard<std::mutex> guard(stuckLock);
                stuck.clear();
            }
            lastTick.store(QDateTime::currentMSecsSinceEpoch());
            lastRunning = running;
            lastWaiting = waiting;
        });
    }
    // Traced, a thread looks at a GUI thread that is late by 60 ms: where it is in the kernel.
    void watch()
    {
        const QString self = QStringLiteral("/proc/self/task/%1/").arg(gettid());
        watcher = std::thread([this, self] {
            while (!quit.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                if (QDateTime::currentMSecsSinceEpoch() - lastTick.load() < 60)
                    continue;
                QByteArray seen;
                for (const char *name : {"syscall", "wchan", "stack"}) {
                    QFile f(self + QLatin1String(name));
                    if (f.open(QIODevice::ReadOnly))
                        seen += name + QByteArray(" ") + f.readAll().simplified() + "; ";
                }
                std::lock_guard<std::mutex> guard(stuckLock);
                if (stuck.isEmpty() || !stuck.contains(seen))
                    stuck += seen;
            }
        });
    }
    ~GapMeter()
    {
        quit = true;
        if (watcher.joinable())
            watcher.join();
    }
    void start()
    {
        lastTick.store(QDateTime::currentMSecsSinceEpoch());
        if (trace)
            watch();
        turn.start();
        phaseClock.start();
        timer.start(10);
    }
    void enter(int next)
    {
        phase = next;
        phaseClock.start();
    }
    QTimer timer;
    QElapsedTimer turn;
    QElapsedTimer phaseClock;
    qint64 longest[3] = {};
    qint64 lastRunning = 0;
    qint64 lastWaiting = 0;
    int phase = 0;
    bool trace = false;
    std::atomic<qint64> lastTick{0};
    std::atomic<bool> quit{false};
    std::mutex stuckLock;
    QByteArray stuck; // what the watcher saw during the current gap
    std::thread watcher;
};

// Answers the page's choosers as an operator does: in the folder above the answer, its name
// typed, accepted. The folder of 20,000 photos itself is never opened in the chooser.
struct ChooserAnswers
{
    ChooserAnswers()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible())
                return;
            const QFileInfo answer(answers.isEmpty() ? QString() : answers.takeFirst());
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            if (answer.filePath().isEmpty() || !name)
                return dialog->reject();
            dialog->setDirectory(answer.absolutePath());
            name->setText(answer.fileName());
            QMetaObject::invokeMethod(dialog, "accept");
        });
        timer.start(10);
    }
    QTimer timer;
    QStringList answers;
};

// A little-endian EXIF block with DateTimeOriginal alone, after SOI.
QByteArray withCaptureTime(const QByteArray &jpeg, const QByteArray &dateTime)
{
    QByteArray tiff("II\x2a\x00\x08\x00\x00\x00", 8);
    auto u16 = [&tiff](quint16 v) { tiff.append(char(v & 0xff)).append(char(v >> 8)); };
    auto u32 = [&u16](quint32 v) { u16(quint16(v & 0xffff)), u16(quint16(v >> 16)); };
    u16(1), u16(0x8769), u16(4), u32(1), u32(26), u32(0);
    u16(1), u16(0x9003), u16(2), u32(20), u32(44), u32(0);
    tiff.append(dateTime).append('\0');
    const QByteArray body = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray app1("\xff\xe1", 2);
    app1.append(char((body.size() + 2) >> 8)).append(char((body.size() + 2) & 0xff));
    return jpeg.left(2) + app1 + body + jpeg.mid(2);
}

QString clockText(int seconds, const char *format)
{
    return QDateTime(QDate(2024, 5, 1), QTime(10, 0)).addSecs(seconds).toString(QLatin1String(format));
}

// The five cards and the table, unless a finished earlier run left them.
bool makeCards(const QString &media, const QString &table, int count)
{
    const QString ready = media + QStringLiteral(".ready");
    if (QFileInfo::exists(ready))
        return true;
    QDir(media).removeRecursively();
    // Grey with noise, as an aerial scene compresses: about 50 KB.
    QImage image(400, 300, QImage::Format_Grayscale8);
    QRandomGenerator random(7);
    for (int y = 0; y < image.height(); ++y) {
        uchar *line = image.scanLine(y);
        for (int x = 0; x < image.width(); ++x)
            line[x] = uchar(96 + random.bounded(64));
    }
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPEG", 80))
        return false;
    const QByteArray jpeg = buffer.data();
    std::printf("making 5 cards x %d photos of %lld bytes under %s\n", count,
                qint64(withCaptureTime(jpeg, "2024:05:01 10:00:00").size()), qPrintable(media));
    std::fflush(stdout);
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        const QString folder =
            media + QLatin1Char('/') + QLatin1String(Cameras::folderName(camera)) + "/DCIM/100V7";
        if (!QDir().mkpath(folder))
            return false;
        for (int n = 0; n < count; ++n) {
            QFile photo(QStringLiteral("%1/DSC%2.JPG").arg(folder).arg(n + 1, 5, 10, QLatin1Char('0')));
            if (!photo.open(QIODevice::WriteOnly) ||
                photo.write(withCaptureTime(jpeg, clockText(2 * n, "yyyy:MM:dd hh:mm:ss").toLatin1())) < 0)
                return false;
        }
    }
    QFile pos(table);
    if (!pos.open(QIODevice::WriteOnly))
        return false;
    pos.write("ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\n");
    for (int n = 0; n < count; ++n)
        pos.write(QStringLiteral("%1\t%2\t%3\t500\t90\t0\t0\t90\t20\t%4\n")
                      .arg(n + 1)
                      .arg(113.0 + (n % 100) * 1e-4, 0, 'f', 6)
                      .arg(23.5 + (n / 100) * 1e-4, 0, 'f', 6)
                      .arg(clockText(2 * n, "yyyy/MM/dd hh:mm:ss"))
                      .toUtf8());
    pos.close();
    return QFile(ready).open(QIODevice::WriteOnly);
}

// Runs the event loop until done; never sleeps on the GUI thread itself, which the gaps would
// count.
// count symbolic links "LNK00001.JPG"... beside each card's photos, no more: the page names each.
bool placeLinks(const QString &media, int count)
{
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        const QString folder =
            media + QLatin1Char('/') + QLatin1String(Cameras::folderName(camera)) + "/DCIM/100V7";
        for (int n = 0;; ++n) {
            const QString link =
                QStringLiteral("%1/LNK%2.JPG").arg(folder).arg(n + 1, 5, 10, QLatin1Char('0'));
            const bool there = QFileInfo(link).isSymLink();
            if (n >= count && !there)
                break;
            if (n >= count)
                QFile::remove(link);
            else if (!there && !QFile::link(QStringLiteral("DSC00001.JPG"), link))
                return false;
        }
    }
    return true;
}

bool waitFor(const std::function<bool()> &done, const char *what)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(3600 * 1000, &loop, [&loop] { loop.exit(1); });
    check.start(5);
    if (done() || loop.exec() == 0)
        return true;
    std::fprintf(stderr, "bench_pagegap: gave up waiting for %s\n", what);
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int count = qEnvironmentVariableIsSet("V7_BENCH_PHOTOS")
                          ? qEnvironmentVariableIntValue("V7_BENCH_PHOTOS")
                          : 20000;
    const bool withPos = qEnvironmentVariable("V7_BENCH_POS") != QLatin1String("0");
    const QString work = qEnvironmentVariable("V7_BENCH_DIR", QStringLiteral("/var/tmp/v7pagegap"));
    const QString media = QStringLiteral("%1/cards%2").arg(work).arg(count);
    const QString table = media + QStringLiteral("-flight.xls");
    const QString target = work + QStringLiteral("/target");
    const QString state = work + QStringLiteral("/state");
    const int links = qEnvironmentVariableIntValue("V7_BENCH_SKIPPED");
    if (count <= 0 || !QDir().mkpath(work) || !makeCards(media, table, count) ||
        !placeLinks(media, links)) {
        std::fprintf(stderr, "bench_pagegap: cannot make the cards under %s\n", qPrintable(work));
        return 2;
    }
    QDir(target).removeRecursively();
    QDir(state).removeRecursively();
    QDir().mkpath(target);
    // Read by the program's first volume query and its first look at its data folder.
    qputenv("V7_MEDIA_ROOT", QFile::encodeName(media));
    qputenv("V7_STATE_DIR", QFile::encodeName(state));
    // The offscreen platform's notes on window hints say nothing about the page.
    static const QtMessageHandler standard = qInstallMessageHandler(nullptr);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
        if (!text.startsWith(QLatin1String("This plugin does not support")))
            standard(type, context, text);
    });
    QApplication app(argc, argv);

    std::printf("5 cards x %d photos%s%s; load average %s", count, withPos ? ", POS table" : "",
                links > 0 ? qPrintable(QStringLiteral(", %1 links each").arg(links)) : "",
                qPrintable(QString::fromLatin1([] {
                    QFile f(QStringLiteral("/proc/loadavg"));
                    return f.open(QIODevice::ReadOnly) ? f.readLine() : QByteArray("?\n");
                }())));
    std::fflush(stdout);

    DataService page;
    page.show();
    PromptCatcher prompts;
    ChooserAnswers choosers;
    GapMeter meter;
    QElapsedTimer total;
    total.start();
    meter.start();

    QElapsedTimer phase;
    phase.start();
    for (int camera : OffloadPlan::IconOrder) {
        bool listed = false;
        const QMetaObject::Connection c = QObject::connect(
            &page, &DataService::folderListed, [&listed](int) { listed = true; });
        choosers.answers << media + QLatin1Char('/') + QLatin1String(Cameras::folderName(camera)) +
                                QStringLiteral("/DCIM/100V7");
        QTest::mouseClick(page.cameraIcon(camera), Qt::LeftButton);
        const bool ok = waitFor([&] { return listed; }, "a card's listing");
        QObject::disconnect(c);
        if (!ok)
            return 1;
    }
    bool measured = false;
    QObject::connect(&page, &DataService::targetMeasured, [&measured] { measured = true; });
    choosers.answers << target;
    QTest::mouseClick(page.targetButton(), Qt::LeftButton);
    if (!waitFor([&] { return measured; }, "the target's free space"))
        return 1;
    if (withPos) {
        choosers.answers << table;
        QTest::mouseClick(page.posAddButton(), Qt::LeftButton);
        if (!waitFor([&] { return page.textArea()->toPlainText().contains(QStringLiteral("添加成功")); },
                     "the POS table"))
            return 1;
        QTest::mouseClick(page.sortieBox(), Qt::LeftButton);
    }
    if (page.plan().plannedTotal() != Cameras::Count * count) {
        std::fprintf(stderr, "bench_pagegap: the page plans %d files\n", page.plan().plannedTotal());
        return 1;
    }
    const double setupSeconds = double(phase.restart()) / 1000.0;

    meter.enter(1);
    QTest::mouseClick(page.startButton(), Qt::LeftButton);
    // Looked at as the text changes (once a second), not at every turn of the wait.
    bool copied = false;
    QObject::connect(page.textArea(), &QTextEdit::textChanged, [&] {
        copied = copied || page.textArea()->toPlainText().contains(QStringLiteral("传输已完成"));
    });
    if (!waitFor([&] { return copied; }, "the copies"))
        return 1;
    const double copySeconds = double(phase.restart()) / 1000.0;

    // Ends when the prompt has been answered (its text, with a note after " / " when there is one).
    meter.enter(2);
    const QRegularExpression endPrompt(QStringLiteral("^传输已经完成！"));
    if (!waitFor([&] { return !prompts.texts().filter(endPrompt).isEmpty(); }, "the end prompt"))
        return 1;
    const double finishSeconds = double(phase.restart()) / 1000.0;
    meter.timer.stop();

    QStringList problems = prompts.texts().filter(QRegularExpression(QStringLiteral("^(?!传输已经完成！$)")));
    const QString text = page.textArea()->toPlainText();
    if (text.count(QStringLiteral("共%1张,已传%1张").arg(count)) != Cameras::Count)
        problems << QStringLiteral("not every camera complete:\n") + text;
    std::printf("longest GUI-thread gap: setting up %lld ms (%.1f s), copying %lld ms (%.1f s), "
                "finishing %lld ms (%.1f s); total %.1f s\n",
                meter.longest[0], setupSeconds, meter.longest[1], copySeconds, meter.longest[2],
                finishSeconds, double(total.elapsed()) / 1000.0);
    for (const QString &problem : problems)
        std::printf("  prompt or problem: %s\n", qPrintable(problem));
    return problems.isEmpty() ? 0 : 1;
}
