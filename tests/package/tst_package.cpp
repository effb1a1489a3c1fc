// The Debian package as a crew's laptop gets it: unpacked into a scratch root, its programs
// start and find the manual, the card template and UpdateConfig.xml; its files pass the
// desktop's validators; the manual has every page's chapter and renders.
#include <QtTest>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "testtools.h"

class tst_Package : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void installed_data();
    void installed();
    void manual_data();
    void manual();

private:
    QString file(const QString &relative) const { return m_root.filePath(relative); }

    QTemporaryDir m_root;
    QTemporaryDir m_state;
    QString m_deb;
    QStringList m_env;
    QString m_manualText;
};

void tst_Package::initTestCase()
{
    m_deb = QStringLiteral(V7_PACKAGE_DIR "/v7kapp_" V7_PACKAGE_VERSION "_amd64.deb");
    QVERIFY2(QFileInfo::exists(m_deb), qPrintable(m_deb));
    QCOMPARE(runTool("dpkg-deb", {"-x", m_deb, m_root.path()}).exitCode, 0);
    // The scratch root's programs with the real lookups: no shipped-folder override.
    m_env = QStringList{"V7_SHIPPED_DIR", "V7_STATE_DIR=" + m_state.filePath("state"),
                        "V7_MEDIA_ROOT=" + m_state.path(), "V7_STARTUP_PROBE=1"};
    const ToolRun text = runTool("pdftotext", {file("usr/share/v7kapp/V7 Assistant.pdf"), "-"});
    QCOMPARE(text.exitCode, 0);
    m_manualText = QString::fromUtf8(text.out);
}

// Each row: a command run in the scratch root (bin/ → its usr/bin, @ → the root) and what its
// output must hold.
void tst_Package::installed_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("expected");
    QTest::newRow("v7tool --help") << QStringList{"bin/v7tool", "--help"} << "paths";
    QTest::newRow("window to its first paint") << QStringList{"bin/V7KAPP"} << "first-paint ";
    for (const char *shipped : {"manual", "updateConfig", "cardTemplate"})
        QTest::newRow(shipped) << QStringList{"bin/v7tool", "paths"}
                               << QStringLiteral("\"%1\":{\"exists\":true,\"path\":\"@/usr/share/v7kapp/")
                                      .arg(QString::fromLatin1(shipped));
    QTest::newRow("desktop entry") << QStringList{"desktop-file-validate",
                                                  "@/usr/share/applications/com.vestrane.v7kapp.desktop"}
                                   << QString();
    QTest::newRow("AppStream metadata")
        << QStringList{"appstreamcli", "validate", "--no-net",
                       "@/usr/share/metainfo/com.vestrane.v7kapp.metainfo.xml"}
        << "Validation was successful";
    // Libraries from the binaries; what the program loads or runs by name, declared.
    for (const char *package : {"libqt6widgets6", "libexiv2-27", "qt6-qpa-plugins", "exfatprogs"})
        QTest::newRow(package) << QStringList{"dpkg-deb", "-f", "@deb", "Depends"} << package;
}

void tst_Package::installed()
{
    QFETCH(QStringList, command);
    QFETCH(QString, expected);
    for (QString &part : command) {
        part.replace(QStringLiteral("@deb"), m_deb).replace(QLatin1Char('@'), m_root.path());
        if (part.startsWith(QLatin1String("bin/")))
            part = file(QStringLiteral("usr/") + part);
    }
    const ToolRun result = runTool(command.takeFirst(), command, m_env);
    QVERIFY2(result.exitCode == 0, result.err.constData());
    QString out = QString::fromUtf8(result.out);
    if (expected.startsWith(QLatin1Char('"'))) // JSON: compared in its compact form
        out = QString::fromUtf8(QJsonDocument::fromJson(result.out).toJson(QJsonDocument::Compact));
    QVERIFY2(out.contains(expected.replace(QLatin1Char('@'), m_root.path())), qPrintable(out));
}

// Each page of the program has its chapter, titled with the name the navigation shows.
void tst_Package::manual_data()
{
    QTest::addColumn<QString>("title");
    for (const char *title : {"连接相机", "设备信息", "采集策略", "航线规划", "POS下载", "影像拷贝",
                              "拷贝报告", "影像清空", "命令行工具"})
        QTest::newRow(title) << QString::fromUtf8(title);
}

void tst_Package::manual()
{
    QFETCH(QString, title);
    const QRegularExpression heading(QStringLiteral("^\\d \\S*") + QRegularExpression::escape(title),
                                     QRegularExpression::MultilineOption);
    QVERIFY2(heading.match(m_manualText).hasMatch(), qPrintable(title));
    if (QTest::currentDataTag() != QLatin1String("连接相机"))
        return;
    // Once: every page renders, and the CJK font travels with the file.
    QTemporaryDir pictures;
    const QString pdf = file(QStringLiteral("usr/share/v7kapp/V7 Assistant.pdf"));
    QCOMPARE(runTool("pdftoppm", {"-r", "20", "-png", pdf, pictures.filePath("p")}).exitCode, 0);
    const int pages = m_manualText.count(QLatin1Char('\f'));
    QVERIFY2(pages > 10, "a cover, the contents and nine chapters");
    QCOMPARE(QDir(pictures.path()).entryList({QStringLiteral("*.png")}).size(), pages);
    const QByteArray fonts = runTool("pdffonts", {pdf}).out;
    const QRegularExpression notEmbedded(QStringLiteral("\\sno(\\s+(yes|no)){2}(\\s+\\d+){2}$"),
                                         QRegularExpression::MultilineOption);
    QVERIFY2(fonts.contains("WenQuanYi") && !notEmbedded.match(QString::fromUtf8(fonts)).hasMatch(),
             fonts.constData());
}

QTEST_GUILESS_MAIN(tst_Package)
#include "tst_package.moc"
