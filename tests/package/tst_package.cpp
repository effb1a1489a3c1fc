// The Debian package as a crew's laptop gets it: unpacked into a scratch root, its programs
// start, find the manual, the card template and UpdateConfig.xml, and its files pass the
// desktop's validators.
#include <QtTest>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run run(const QString &program, const QStringList &arguments,
        const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        result.err = "did not finish: " + program.toLocal8Bit();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

} // namespace

class tst_Package : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void dependencies_data();
    void dependencies();
    void programsStart_data();
    void programsStart();
    void shippedFilesFound_data();
    void shippedFilesFound();
    void desktopFilesValid_data();
    void desktopFilesValid();
    void manualHoldsEveryPage_data();
    void manualHoldsEveryPage();
    void manualPagesRender();

private:
    QString installed(const QString &relative) const { return m_root.filePath(relative); }
    QProcessEnvironment programEnvironment() const;

    QString m_deb;
    QTemporaryDir m_root;
    QTemporaryDir m_state;
    QJsonObject m_paths;
};

void tst_Package::initTestCase()
{
    const QDir dir(QStringLiteral(V7_PACKAGE_DIR));
    const QString name = QStringLiteral("v7kapp_%1_amd64.deb").arg(QStringLiteral(V7_PACKAGE_VERSION));
    QVERIFY2(dir.exists(name), qPrintable(dir.filePath(name) + QStringLiteral(" was not built")));
    m_deb = dir.filePath(name);
    const Run unpack = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_deb, m_root.path()});
    QVERIFY2(unpack.exitCode == 0, unpack.err.constData());

    // Where the installed program reads its shipped files, asked of the installed program.
    const Run paths = run(installed(QStringLiteral("usr/bin/v7tool")), {QStringLiteral("paths")},
                          programEnvironment());
    QVERIFY2(paths.exitCode == 0, paths.err.constData());
    m_paths = QJsonDocument::fromJson(paths.out).object();
    QCOMPARE(m_paths.value(QStringLiteral("shipped")).toString(),
             installed(QStringLiteral("usr/share/v7kapp")));
}

// The scratch root's programs with the real lookups: no shipped-folder override, an empty media
// root and a state folder of their own.
QProcessEnvironment tst_Package::programEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("V7_SHIPPED_DIR"));
    env.insert(QStringLiteral("V7_STATE_DIR"), m_state.filePath(QStringLiteral("state")));
    env.insert(QStringLiteral("V7_MEDIA_ROOT"), m_state.filePath(QStringLiteral("media")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QDir().mkpath(m_state.filePath(QStringLiteral("media")));
    return env;
}

// Libraries come from the binaries; what the program loads or runs by name is declared.
void tst_Package::dependencies_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("package");
    QTest::newRow("Qt widgets, from the binary") << "Depends" << "libqt6widgets6";
    QTest::newRow("exiv2, from the binary") << "Depends" << "libexiv2-27";
    QTest::newRow("blkid, from the binary") << "Depends" << "libblkid1";
    QTest::newRow("platform plugins, loaded by name") << "Depends" << "qt6-qpa-plugins";
    QTest::newRow("mkfs.exfat, run by name") << "Depends" << "exfatprogs";
    QTest::newRow("viewer launcher") << "Recommends" << "xdg-utils";
}

void tst_Package::dependencies()
{
    QFETCH(QString, field);
    QFETCH(QString, package);
    const Run fields = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb, field});
    QCOMPARE(fields.exitCode, 0);
    const QStringList entries = QString::fromUtf8(fields.out).split(QLatin1Char(','));
    bool found = false;
    for (const QString &entry : entries)
        found = found || entry.trimmed().section(QLatin1Char(' '), 0, 0) == package;
    QVERIFY2(found, fields.out.constData());
}

void tst_Package::programsStart_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("probe");
    QTest::addColumn<QString>("expected");
    QTest::newRow("v7tool --help") << "v7tool" << QStringList{"--help"} << false << "paths";
    QTest::newRow("window to its first paint") << "V7KAPP" << QStringList{} << true << "first-paint ";
}

void tst_Package::programsStart()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(bool, probe);
    QFETCH(QString, expected);
    QProcessEnvironment env = programEnvironment();
    if (probe)
        env.insert(QStringLiteral("V7_STARTUP_PROBE"), QStringLiteral("1"));
    const Run started = run(installed(QStringLiteral("usr/bin/") + program), arguments, env);
    QVERIFY2(started.exitCode == 0, started.err.constData());
    QVERIFY2(started.out.contains(expected.toUtf8()), started.out.constData());
}

void tst_Package::shippedFilesFound_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("inside"); // a file that must be in it, for a folder
    QTest::newRow("manual") << "manual" << "V7 Assistant.pdf" << QString();
    QTest::newRow("update configuration") << "updateConfig" << "UpdateConfig.xml" << QString();
    QTest::newRow("card template") << "cardTemplate" << "R9相机替换文件"
                                   << "PRIVATE/SONY/SONYCARD.IND";
}

void tst_Package::shippedFilesFound()
{
    QFETCH(QString, key);
    QFETCH(QString, name);
    QFETCH(QString, inside);
    const QJsonObject entry = m_paths.value(key).toObject();
    const QString expected = installed(QStringLiteral("usr/share/v7kapp/") + name);
    QCOMPARE(entry.value(QStringLiteral("path")).toString(), expected);
    QVERIFY2(entry.value(QStringLiteral("exists")).toBool(), qPrintable(expected));
    if (!inside.isEmpty())
        QVERIFY2(QFileInfo(QDir(expected).filePath(inside)).isFile(), qPrintable(inside));
}

void tst_Package::desktopFilesValid_data()
{
    QTest::addColumn<QString>("validator");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("file");
    QTest::newRow("desktop entry") << "desktop-file-validate" << QStringList{}
                                   << "usr/share/applications/com.vestrane.v7kapp.desktop";
    QTest::newRow("AppStream metadata")
        << "appstreamcli" << QStringList{"validate", "--no-net"}
        << "usr/share/metainfo/com.vestrane.v7kapp.metainfo.xml";
}

void tst_Package::desktopFilesValid()
{
    QFETCH(QString, validator);
    QFETCH(QStringList, options);
    QFETCH(QString, file);
    QVERIFY2(!QStandardPaths::findExecutable(validator).isEmpty(),
             qPrintable(validator + QStringLiteral(" is missing: scripts/install-deps installs it")));
    const Run check = run(validator, options << installed(file));
    QVERIFY2(check.exitCode == 0, (check.out + check.err).constData());
    // The icon the entry names is in the package, at the size-free place of the theme.
    QVERIFY(QFileInfo::exists(
        installed(QStringLiteral("usr/share/icons/hicolor/scalable/apps/com.vestrane.v7kapp.svg"))));
}

// Each page of the program has its chapter, found by the title the navigation shows.
void tst_Package::manualHoldsEveryPage_data()
{
    QTest::addColumn<QString>("title");
    for (const char *title : {"连接相机", "设备信息", "采集策略", "航线规划", "POS下载", "影像拷贝",
                              "拷贝报告", "影像清空", "命令行工具"})
        QTest::newRow(title) << QString::fromUtf8(title);
}

void tst_Package::manualHoldsEveryPage()
{
    QFETCH(QString, title);
    const Run text = run(QStringLiteral("pdftotext"),
                         {installed(QStringLiteral("usr/share/v7kapp/V7 Assistant.pdf")), QStringLiteral("-")});
    QCOMPARE(text.exitCode, 0);
    // A chapter heading is a line of its own: "N title…".
    const QRegularExpression heading(QStringLiteral("^\\d \\S*%1").arg(QRegularExpression::escape(title)),
                                     QRegularExpression::MultilineOption);
    QVERIFY2(heading.match(QString::fromUtf8(text.out)).hasMatch(), qPrintable(title));
}

void tst_Package::manualPagesRender()
{
    const QString pdf = installed(QStringLiteral("usr/share/v7kapp/V7 Assistant.pdf"));
    const Run info = run(QStringLiteral("pdfinfo"), {pdf});
    QCOMPARE(info.exitCode, 0);
    const QRegularExpressionMatch pages =
        QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(QString::fromUtf8(info.out));
    QVERIFY(pages.hasMatch());
    const int count = pages.captured(1).toInt();
    QVERIFY2(count > 9, "a cover, the contents and nine chapters");
    QVERIFY2(info.out.contains("A4"), info.out.constData());

    QTemporaryDir pictures;
    const Run render = run(QStringLiteral("pdftoppm"),
                           {QStringLiteral("-r"), QStringLiteral("20"), QStringLiteral("-png"), pdf,
                            pictures.filePath(QStringLiteral("page"))});
    QVERIFY2(render.exitCode == 0 && render.err.isEmpty(), render.err.constData());
    const QStringList rendered = QDir(pictures.path()).entryList({QStringLiteral("*.png")});
    QCOMPARE(rendered.size(), count);
    // The CJK font travels with the manual: a laptop without it still shows the text.
    const Run fonts = run(QStringLiteral("pdffonts"), {pdf});
    QVERIFY(fonts.out.contains("WenQuanYi"));
    for (const QByteArray &line : fonts.out.split('\n').mid(2)) {
        if (!line.trimmed().isEmpty())
            QVERIFY2(line.simplified().split(' ').value(line.simplified().split(' ').size() - 5) == "yes",
                     line.constData());
    }
}

QTEST_GUILESS_MAIN(tst_Package)
#include "tst_package.moc"
