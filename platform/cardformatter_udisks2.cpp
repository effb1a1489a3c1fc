#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>

#include <climits>

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

} // namespace

CardFormatter::Outcome UDisks2CardFormatter::formatDevice(const CardDeviceFacts &facts,
                                                          const QString &label)
{
    return formatBlock(facts.device, label);
}

CardFormatter::Outcome UDisks2CardFormatter::formatBlock(const QString &device,
                                                         const QString &label)
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
        callUDisks(block, kFilesystem, QStringLiteral("Mount"), {QVariantMap()});
        return outcome;
    }
    const QDBusMessage mounted = callUDisks(block, kFilesystem, QStringLiteral("Mount"),
                                            {QVariantMap()});
    if (failed(mounted, &error) || mounted.arguments().isEmpty()) {
        outcome.error = QStringLiteral("%1 已格式化，但挂载失败：%2").arg(device, error);
        return outcome;
    }
    outcome.ok = true;
    outcome.mountRoot = mounted.arguments().first().toString();
    return outcome;
}
