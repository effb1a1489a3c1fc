#include "wifiname.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kWireless = QStringLiteral("802-11-wireless");

QVariant property(const QString &path, const QString &interface, const QString &name)
{
    QDBusInterface properties(kService, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                              QDBusConnection::systemBus());
    properties.setTimeout(2000);
    const QDBusReply<QDBusVariant> reply =
        properties.call(QStringLiteral("Get"), interface, name);
    return reply.isValid() ? reply.value().variant() : QVariant();
}

QString objectPath(const QVariant &value)
{
    return value.value<QDBusObjectPath>().path();
}

// The access point of an active WiFi connection, or "" when the connection is not WiFi.
QString accessPointOf(const QString &activeConnection)
{
    if (activeConnection.isEmpty() || activeConnection == QLatin1String("/"))
        return QString();
    const QString iface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
    if (property(activeConnection, iface, QStringLiteral("Type")).toString() != kWireless)
        return QString();
    return objectPath(property(activeConnection, iface, QStringLiteral("SpecificObject")));
}

} // namespace

namespace WifiName {

Result fromNetworkManager()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return {};
    const QString manager = QStringLiteral("/org/freedesktop/NetworkManager");
    const QString managerIface = QStringLiteral("org.freedesktop.NetworkManager");
    const QVariant version = property(manager, managerIface, QStringLiteral("Version"));
    if (!version.isValid())
        return {}; // NetworkManager is not running

    QString accessPoint =
        accessPointOf(objectPath(property(manager, managerIface, QStringLiteral("PrimaryConnection"))));
    if (accessPoint.isEmpty()) {
        // A wired primary connection does not mean there is no WiFi link beside it.
        const auto actives = property(manager, managerIface, QStringLiteral("ActiveConnections"))
                                 .value<QDBusArgument>();
        QList<QDBusObjectPath> paths;
        if (actives.currentType() == QDBusArgument::ArrayType)
            actives >> paths;
        for (const QDBusObjectPath &path : std::as_const(paths)) {
            accessPoint = accessPointOf(path.path());
            if (!accessPoint.isEmpty())
                break;
        }
    }
    if (accessPoint.isEmpty() || accessPoint == QLatin1String("/"))
        return {0, QString()};
    const QByteArray ssid =
        property(accessPoint, QStringLiteral("org.freedesktop.NetworkManager.AccessPoint"),
                 QStringLiteral("Ssid"))
            .toByteArray();
    return {0, QString::fromUtf8(ssid)};
}

} // namespace WifiName
