#include <QApplication>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QThread>
#include <QTranslator>

#include "crashdump.h"
#include "startupprobe.h"
#include "datafolders.h"
#include "framestyle.h"
#include "openfiles.h"
#include "v7kapp.h"
#include "look.h"

// Start-up diagnostics, off unless QT_LOGGING_RULES="v7.startup.debug=true".
Q_LOGGING_CATEGORY(lcStartup, "v7.startup", QtWarningMsg)

int main(int argc, char *argv[])
{
    OpenFiles::raiseToHardLimit();
    QApplication app(argc, argv);
    auto *translator = new QTranslator();
    (void)translator->load(Look::resource("qt_zh_CN.qm"));
    QApplication::installTranslator(translator);

    if (!CrashDump::prepareDumpFolder(QStringLiteral("V7Assistant"),
                                      DataFolders::perUserDataFolder(), QStringLiteral("dump"))) {
        // Also on the standard error, for logs and for sessions that cannot show the box.
        qWarning("Create Dump Dir Failed");
        QMessageBox::critical(nullptr, QStringLiteral("ERROR"),
                              QStringLiteral("Create Dump Dir Failed"), QMessageBox::Ok);
    }
    CrashDump::installCrashHandler();
    FrameStyle::registerFontSubstitutions();

    qCDebug(lcStartup) << "GUI thread" << QThread::currentThreadId();
    V7KAPP *window = V7KAPP::instance();
    StartupProbe::watch(window);
    window->show();
    window->setWindowIcon(QIcon(Look::resource("Tip.png")));
    return app.exec();
}
