// The small widgets every window is made of: Mylabel, the prompt dialogs and the title bar.
#include <QtTest>

#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include "camsimprocess.h"
#include "datafolders.h"
#include "framestyle.h"
#include "myflyui.h"
#include "mylabel.h"
#include "mytipui.h"
#include "prompt.h"
#include "testtools.h"
#include "titlebar.h"

namespace {
// Runs the dialog with act queued on its event loop. A dialog still open after ten seconds is
// ended with -1, so a click that fails to close it fails the test instead of hanging it.
int execWith(QDialog &dialog, const std::function<void()> &act)
{
    QTimer::singleShot(0, &dialog, act);
    QTimer::singleShot(10000, &dialog, [&dialog] { dialog.done(-1); });
    return dialog.exec();
}
} // namespace

class tst_Dialogs : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void tipAnswers_data();
    void tipAnswers();
    void flyOkAndRotation();
    void promptShowsWholeText_data();
    void promptShowsWholeText();
    void titleBar();
    void shippedFolderRule_data();
    void shippedFolderRule();
    void helpTellsWhatIsMissing_data();
    void helpTellsWhatIsMissing();
};

void tst_Dialogs::initTestCase()
{
    FrameStyle::registerFontSubstitutions();
}

void tst_Dialogs::tipAnswers_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("result");
    QTest::newRow("yes") << "yes" << 1;
    QTest::newRow("no") << "no" << 0;
    QTest::newRow("escape") << "escape" << 0;
    QTest::newRow("closed") << "close" << 0;
}

void tst_Dialogs::tipAnswers()
{
    QFETCH(QString, action);
    QFETCH(int, result);
    MyTipUi tip;
    QCOMPARE(execWith(tip,
                      [&] {
                          if (action == QLatin1String("yes"))
                              QTest::mouseClick(tip.yesLabel(), Qt::LeftButton);
                          else if (action == QLatin1String("no"))
                              QTest::mouseClick(tip.noLabel(), Qt::LeftButton);
                          else if (action == QLatin1String("escape"))
                              QTest::keyClick(&tip, Qt::Key_Escape);
                          else
                              tip.close();
                      }),
             result);
}

void tst_Dialogs::flyOkAndRotation()
{
    MyFlyUi fly;
    QVERIFY(fly.rotating->isHidden());
    QVERIFY(!fly.rotationTimer->isActive());

    // Three frames in a cycle, starting with xuanzhuan.png, then xuanzhuan2, then xuanzhuan1.
    const QImage frames[3] = {QPixmap(QStringLiteral(":/V7KAPP/res/xuanzhuan.png")).toImage(),
                              QPixmap(QStringLiteral(":/V7KAPP/res/xuanzhuan2.png")).toImage(),
                              QPixmap(QStringLiteral(":/V7KAPP/res/xuanzhuan1.png")).toImage()};
    QVERIFY(!frames[0].isNull() && frames[0] != frames[1] && frames[1] != frames[2]);
    for (int tick = 0; tick < 6; ++tick) {
        fly.onTimeout();
        QCOMPARE(fly.rotating->pixmap().toImage(), frames[tick % 3]);
    }

    // The text buttons answer the left button only, on press and on release.
    bool openAfterRightClick = false;
    QSignalSpy released(fly.okText, &Mylabel::clickleave);
    qsizetype releasedByRight = -1;
    QCOMPARE(execWith(fly,
                      [&] {
                          QTest::mouseClick(fly.okText, Qt::RightButton);
                          openAfterRightClick = fly.isVisible();
                          releasedByRight = released.count();
                          QTest::mouseClick(fly.okText, Qt::LeftButton);
                      }),
             1);
    QVERIFY2(openAfterRightClick, "a right click does not close the box");
    QCOMPARE(releasedByRight, 0);
    QCOMPARE(released.count(), 1);
}

void tst_Dialogs::promptShowsWholeText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("grows");
    QTest::addColumn<bool>("scrolls");
    const QString line =
        QStringLiteral("前视相机：/media/card/DCIM/100MSDCF/DSC%1.JPG：读取失败（读写错误）");
    QStringList lines;
    for (int i = 0; i < 60; ++i)
        lines << line.arg(i, 5, 10, QLatin1Char('0'));
    QTest::newRow("one line keeps the frame") << QStringLiteral("传输已经完成！") << false << false;
    QTest::newRow("a dozen lines grow it") << lines.mid(0, 12).join('\n') << true << false;
    QTest::newRow("more than the window holds scroll") << lines.join('\n') << true << true;
    QTest::newRow("an unbroken path widens it")
        << QStringLiteral("目标目录在相机卡目录内：/") + QString(30, 'd') + QStringLiteral("/") +
               QString(60, 'x')
        << true << false;
}

// A prompt is as large as its text within the main window: every line shown, the button below.
void tst_Dialogs::promptShowsWholeText()
{
    QFETCH(QString, text);
    QFETCH(bool, grows);
    QFETCH(bool, scrolls);
    QSize size;
    QString shown;
    bool whole = false, scrolled = false, buttonBelow = false;
    QPoint centre;
    // The window the prompt belongs to: it is centred there.
    QWidget window;
    window.setGeometry(120, 80, 760, 540);
    window.show();
    QTimer::singleShot(0, this, [&] {
        auto *box = qobject_cast<MyFlyUi *>(QApplication::activeModalWidget());
        if (!box)
            return;
        auto *area = box->findChild<QScrollArea *>();
        size = box->size();
        centre = box->pos() + QPoint(box->width() / 2, box->height() / 2);
        shown = box->label_2->text();
        QLabel *label = box->label_2;
        whole = area && label->isVisible() &&
                label->height() >= label->heightForWidth(label->width()) &&
                label->width() >= label->minimumSizeHint().width() &&
                (scrolls || area->viewport()->rect().contains(
                                QRect(label->mapTo(area->viewport(), QPoint()), label->size())));
        scrolled = area && area->verticalScrollBar()->maximum() > 0;
        buttonBelow = area && box->okText->y() >= area->geometry().bottom() &&
                      box->rect().contains(box->okText->geometry());
        box->accept();
    });
    QCOMPARE(Prompt::inform(&window, text), 1);
    QCOMPARE(shown, text);
    QVERIFY2((centre - window.pos() - QPoint(380, 270)).manhattanLength() <= 2,
             qPrintable(QDebug::toString(centre)));
    QVERIFY2(size.width() <= 760 && size.height() <= 540, qPrintable(QDebug::toString(size)));
    QCOMPARE(size != QSize(322, 160), grows);
    QVERIFY(whole);
    QCOMPARE(scrolled, scrolls);
    QVERIFY(buttonBelow);
}

void tst_Dialogs::titleBar()
{
    QWidget window;
    window.resize(760, 540);
    auto *bar = new TitleBar(&window);
    window.installEventFilter(bar);
    window.setWindowTitle(QStringLiteral("V7KAPP"));
    QCOMPARE(bar->titleLabel()->text(), QStringLiteral("V7KAPP"));

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(bar->minimiseButton(), Qt::LeftButton);
    QTRY_VERIFY(window.windowState() & Qt::WindowMinimized);

    bool visibleAtSignal = false;
    connect(bar, &TitleBar::signalclose, this, [&] { visibleAtSignal = window.isVisible(); });
    QSignalSpy closed(bar, &TitleBar::signalclose);
    QTest::mouseClick(bar->closeButton(), Qt::LeftButton);
    QCOMPARE(closed.count(), 1);
    QVERIFY2(visibleAtSignal, "receivers run while the window still exists");
    QVERIFY(!window.isVisible());
}

// Where the help button, the upgrade and the restore find what the program ships: a build tree
// keeps it beside the program, an installation in ../share/v7kapp.
void tst_Dialogs::shippedFolderRule_data()
{
    QTest::addColumn<QStringList>("entries"); // made under a scratch prefix; "/" ends a folder
    QTest::addColumn<QString>("expected");
    QTest::newRow("build tree, manual beside")
        << QStringList{"bin/V7 Assistant.pdf", "share/v7kapp/"} << "bin";
    QTest::newRow("build tree, only the template beside")
        << QStringList{"bin/R9相机替换文件/", "share/v7kapp/"} << "bin";
    QTest::newRow("installed among other programs")
        << QStringList{"bin/other-program", "bin/README", "share/v7kapp/"} << "share/v7kapp";
    QTest::newRow("nothing shipped anywhere") << QStringList{"bin/"} << "bin";
}

void tst_Dialogs::shippedFolderRule()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, expected);
    QTemporaryDir prefix;
    for (const QString &entry : std::as_const(entries)) {
        const QString path = prefix.filePath(entry);
        QVERIFY(entry.endsWith(QLatin1Char('/')) ? QDir().mkpath(path) : writeFile(path, {}));
    }
    QCOMPARE(DataFolders::shippedFilesFolderFor(prefix.filePath(QStringLiteral("bin"))),
             prefix.filePath(expected));
}

void tst_Dialogs::helpTellsWhatIsMissing_data()
{
    QTest::addColumn<QString>("shipped"); // "", a manual, or the demo's shipped folder
    QTest::addColumn<int>("launcherExit"); // of the desktop's launcher; -1: none on the PATH
    QTest::addColumn<QString>("prompt");   // empty: none
    QTest::newRow("no manual") << "" << 0 << QStringLiteral("未找到帮助文档！");
    QTest::newRow("no launcher") << "manual" << -1 << QStringLiteral("未找到PDF阅读器！");
    QTest::newRow("no viewer for PDF files")
        << "manual" << 3 << QStringLiteral("未找到PDF阅读器！");
    QTest::newRow("the demo's, opened") << "demo" << 0 << QString();
}

void tst_Dialogs::helpTellsWhatIsMissing()
{
    QFETCH(QString, shipped);
    QFETCH(int, launcherExit);
    QFETCH(QString, prompt);
    QTemporaryDir folder;
    QTemporaryDir launcherPath; // a launcher that notes what it was asked to open
    const QString manual = folder.filePath(QStringLiteral("V7 Assistant.pdf"));
    const QString opened = launcherPath.filePath(QStringLiteral("opened"));
    if (shipped == "manual")
        QVERIFY(writeFile(manual, "%PDF-1.4\n%%EOF\n"));
    if (shipped == "demo") // the build tree's shipped files, this test's folder
        QCOMPARE(QProcess::execute(V7_SOURCE_DIR "/scripts/make-demo-shipped",
                                   {QCoreApplication::applicationDirPath(), folder.path()}),
                 0);
    const QString launcher = launcherPath.filePath(QStringLiteral("xdg-open"));
    if (launcherExit >= 0) {
        QVERIFY(writeFile(launcher, QStringLiteral("#!/bin/sh\necho \"$1\" > '%1'\nexit %2\n")
                                        .arg(opened)
                                        .arg(launcherExit)
                                        .toUtf8()));
        QFile(launcher).setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    const QByteArray path = qgetenv("PATH");
    qputenv("V7_SHIPPED_DIR", QFile::encodeName(folder.path()));
    qputenv("PATH", QFile::encodeName(launcherPath.path()));
    QWidget window;
    window.resize(760, 540);
    auto *bar = new TitleBar(&window);
    window.show();
    PromptCatcher prompts;
    QTest::mouseClick(bar->helpButton(), Qt::LeftButton);
    qputenv("PATH", path);
    qunsetenv("V7_SHIPPED_DIR");
    // The launcher's answer comes when it ends; its process is gone after the prompt.
    QTRY_VERIFY(bar->findChildren<QProcess *>().isEmpty());
    QCOMPARE(prompts.texts(), prompt.isEmpty() ? QStringList()
                                               : QStringList{prompt + QStringLiteral(" / ") + manual});
    QCOMPARE(QFile::exists(opened), launcherExit >= 0 && !shipped.isEmpty());
    if (QFile::exists(opened))
        QCOMPARE(fileBytes(opened).trimmed(), QFile::encodeName(manual));
}

QTEST_MAIN(tst_Dialogs)
#include "tst_dialogs.moc"
