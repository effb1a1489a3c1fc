// v7tool paths: where the program finds what it ships and keeps what it writes, for a support
// call ("which UpdateConfig.xml does it read?") and for checking an installation.
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

#include "cardtemplate.h"
#include "datafolders.h"
#include "toolcommand.h"

namespace {

const char kUsage[] = "usage: v7tool paths\n";

QJsonObject entry(const QString &path)
{
    return QJsonObject{{QStringLiteral("path"), path},
                       {QStringLiteral("exists"), QFileInfo::exists(path)}};
}

int run(const QStringList &arguments)
{
    if (!arguments.isEmpty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const QJsonObject paths{
        {QStringLiteral("shipped"), DataFolders::shippedFilesFolder()},
        {QStringLiteral("manual"),
         entry(DataFolders::shippedFile(QString::fromUtf8(DataFolders::manualFileName())))},
        {QStringLiteral("updateConfig"), entry(DataFolders::shippedFile(QStringLiteral("UpdateConfig.xml")))},
        {QStringLiteral("cardTemplate"), entry(CardTemplate::folder())},
        {QStringLiteral("state"), DataFolders::perUserDataFolder()},
        {QStringLiteral("dumps"), DataFolders::dumpFolder()},
    };
    std::printf("%s", QJsonDocument(paths).toJson(QJsonDocument::Indented).constData());
    return 0;
}

const ToolCommand command("paths", "where the shipped files are read and the state is kept",
                          kUsage, run);

} // namespace
