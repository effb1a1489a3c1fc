#include "wifiname.h"

#include <QProcess>
#include <QStandardPaths>

namespace WifiName {

Result query()
{
    if (qEnvironmentVariableIsSet("V7_WIFI_SSID"))
        return {0, qEnvironmentVariable("V7_WIFI_SSID")};
    Result result = fromNetworkManager();
    if (result.status == 0)
        return result;
    return fromIwgetid();
}

Result fromIwgetid()
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("iwgetid"),
                                                           {QStringLiteral("/usr/sbin"),
                                                            QStringLiteral("/sbin")});
    if (program.isEmpty())
        return {};
    QProcess process;
    process.start(program, {QStringLiteral("-r")});
    if (!process.waitForFinished(3000)) {
        process.kill();
        return {};
    }
    // iwgetid exits with 255 when no interface is associated: that is "not on WiFi", not an error.
    const QString name = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    if (process.exitStatus() != QProcess::NormalExit)
        return {};
    return {0, name};
}

} // namespace WifiName
