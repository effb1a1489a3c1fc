#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>

#include <climits>

#include <unistd.h>

#include "cardformatter.h"
#include "cardrefusal.h"

namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kFilesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");

// Waits for the service's answer without a time-out (libdbus reads INT_MAX as "forever"): a
// format or the unmount of a card full of unwritten data may take minutes.
QDBusMessage callUDisks(const QString &path, const QString &interface, const QString &method,
                        const QVariantList &arguments, int timeout = INT_MAX)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection::systemBus().call(message, QDBus::Block, timeout);
}

bool failed(const QDBusMessage &reply, QString *error)
{
    if (reply.type() != QDBusMessage::ErrorMessage)
        return false;
    *error = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
    return true;
}

// Run as root, the service does whatever it is asked, system disks included: the backend
// itself keeps off what the service counts as the system's own (any disk that is not on a
// removable, USB or MMC drive). An answer it cannot read counts as a yes.
bool systemDevice(const QString &block, QString *error)
{
    const QDBusMessage reply =
        callUDisks(block, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                   {kBlock, QStringLiteral("HintSystem")}, -1);
    if (failed(reply, error) || reply.arguments().isEmpty())
        return true;
    const QVariant value = qdbus_cast<QDBusVariant>(reply.arguments().first()).variant();
    return value.typeId() != QMetaType::Bool || value.toBool();
}

} // namespace

CardFormatter::Outcome UDisks2CardFormatter::formatDevice(const CardDeviceFacts &facts,
                                                          const QString &label)
{
    return formatThrough(facts.device, label, &facts);
}

CardFormatter::Outcome UDisks2CardFormatter::formatBlock(const QString &device,
                                                         const QString &label)
{
    return formatThrough(device, label, nullptr);
}

QString UDisks2CardFormatter::mountCard(const QString &block, const CardDeviceFacts *facts,
                                        const QString &fsType, QString *error)
{
    const QDBusMessage mounted = callUDisks(block, kFilesystem, QStringLiteral("Mount"),
                                            {QVariantMap()});
    if (!failed(mounted, error) && !mounted.arguments().isEmpty())
        return mounted.arguments().first().toString();
    if (!facts || facts->mountPoint.isEmpty() || ::geteuid() != 0)
        return QString();
    QString toolError;
    if (mountWithTools(*facts, fsType, &toolError))
        return facts->mountPoint;
    error->append(QStringLiteral("；") + toolError);
    return QString();
}

CardFormatter::Outcome UDisks2CardFormatter::formatThrough(const QString &device,
                                                           const QString &label,
                                                           const CardDeviceFacts *facts)
{
    Outcome outcome;
    outcome.device = device;
    if (!QDBusConnection::systemBus().isConnected()) {
        outcome.error = QStringLiteral("连接不到系统总线，无法格式化 %1").arg(device);
        return outcome;
    }
    QString error;
    const QDBusMessage resolved =
        callUDisks(QStringLiteral("/org/freedesktop/UDisks2/Manager"),
                   QStringLiteral("org.freedesktop.UDisks2.Manager"), QStringLiteral("ResolveDevice"),
                   {QVariantMap{{QStringLiteral("path"), device}}, QVariantMap()}, -1);
    QList<QDBusObjectPath> objects;
    if (!failed(resolved, &error) && !resolved.arguments().isEmpty())
        objects = qdbus_cast<QList<QDBusObjectPath>>(resolved.arguments().first());
    if (objects.isEmpty()) {
        outcome.error = QStringLiteral("UDisks2 找不到 %1：%2").arg(device, error);
        return outcome;
    }
    const QString block = objects.first().path();
    if (systemDevice(block, &error)) {
        outcome.error = error.isEmpty()
                            ? QStringLiteral("%1 是系统设备，不能格式化").arg(device)
                            : QStringLiteral("UDisks2 没有答复 %1 是否系统设备，不格式化：%2")
                                  .arg(device, error);
        return outcome;
    }

    const QDBusMessage unmounted = callUDisks(block, kFilesystem, QStringLiteral("Unmount"),
                                              {QVariantMap()});
    if (failed(unmounted, &error) &&
        unmounted.errorName() != QLatin1String("org.freedesktop.UDisks2.Error.NotMounted")) {
        outcome.error = QStringLiteral("卸载 %1 失败：%2").arg(device, error);
        return outcome;
    }
    const QDBusMessage formatted =
        callUDisks(block, kBlock, QStringLiteral("Format"),
                   {QStringLiteral("exfat"), QVariantMap{{QStringLiteral("label"), label}}});
    if (failed(formatted, &error)) {
        outcome.error = QStringLiteral("格式化 %1 失败：%2").arg(device, error);
        // The old file system is most likely whole still: give the card back as it was.
        QString ignored;
        mountCard(block, facts,
                  facts && facts->fsType != QLatin1String("fuseblk") ? facts->fsType
                                                                      : QStringLiteral("exfat"),
                  &ignored);
        return outcome;
    }
    error.clear();
    outcome.mountRoot = mountCard(block, facts, QStringLiteral("exfat"), &error);
    if (outcome.mountRoot.isEmpty()) {
        outcome.error = QStringLiteral("%1 已格式化，但挂载失败：%2").arg(device, error);
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}
