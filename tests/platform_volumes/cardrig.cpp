#include "cardrig.h"

#include <QDir>
#include <QProcess>

#include <unistd.h>

static bool runTool(const QString &program, const QStringList &arguments, QString *output,
                    QString *error)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(60000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    const QString text = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (!ok && error)
        *error = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) + ": " + text;
    if (ok && output)
        *output = text;
    return ok;
}

CardRig::CardRig(Kind kind)
    : m_kind(kind)
{
    QDir(m_work.path()).mkpath(QStringLiteral("media"));
}

CardRig::~CardRig()
{
    for (Card &card : m_cards)
        unmount(&card);
}

QString CardRig::unavailableReason(Kind kind)
{
    if (kind == MediaRoot)
        return QString();
    if (::geteuid() != 0)
        return QStringLiteral("loop devices and mounts need root; running as uid %1")
            .arg(::geteuid());
    for (const char *tool : {"/usr/sbin/losetup", "/usr/sbin/mkfs.exfat",
                             "/usr/sbin/mount.exfat-fuse", "/dev/fuse", "/dev/loop-control"}) {
        if (!QFile::exists(QLatin1String(tool)))
            return QStringLiteral("%1 is missing").arg(QLatin1String(tool));
    }
    return QString();
}

QString CardRig::plug(const QString &label, QString *error)
{
    Card card;
    const int n = int(m_cards.size());
    card.mountRoot =
        QDir(mediaRoot()).filePath(m_kind == MediaRoot ? label : QStringLiteral("card%1").arg(n));
    if (!QDir().mkpath(card.mountRoot)) {
        *error = QStringLiteral("cannot make %1").arg(card.mountRoot);
        return QString();
    }
    if (m_kind == Loop) {
        card.image = m_work.filePath(QStringLiteral("card%1.img").arg(n));
        QFile image(card.image);
        if (!image.open(QIODevice::WriteOnly) || !image.resize(16 << 20) ||
            !runTool(QStringLiteral("mkfs.exfat"), {QStringLiteral("-L"), label, card.image},
                     nullptr, error))
            return QString();
    }
    m_cards.append(card);
    if (m_kind == MediaRoot)
        m_cards.last().mounted = true;
    else if (!mount(&m_cards.last(), error))
        return QString();
    return card.mountRoot;
}

bool CardRig::mount(Card *card, QString *error)
{
    card->mounted = runTool(QStringLiteral("losetup"),
                            {QStringLiteral("--find"), QStringLiteral("--show"), card->image},
                            &card->device, error) &&
                    runTool(QStringLiteral("mount.exfat-fuse"), {card->device, card->mountRoot},
                            nullptr, error);
    if (!card->mounted)
        unmount(card);
    return card->mounted;
}

void CardRig::unmount(Card *card)
{
    if (m_kind == Loop && card->mounted)
        runTool(QStringLiteral("umount"), {QStringLiteral("-l"), card->mountRoot}, nullptr,
                nullptr);
    if (!card->device.isEmpty())
        runTool(QStringLiteral("losetup"), {QStringLiteral("-d"), card->device}, nullptr, nullptr);
    card->device.clear();
    card->mounted = false;
}

bool CardRig::pull(const QString &mountRoot)
{
    for (int i = 0; i < m_cards.size(); ++i) {
        Card &card = m_cards[i];
        if (card.mountRoot != mountRoot || !card.mounted)
            continue;
        if (m_kind == Loop) {
            unmount(&card);
            return true;
        }
        card.parked = m_work.filePath(QStringLiteral("parked%1").arg(i));
        card.mounted = !QDir().rename(card.mountRoot, card.parked);
        return !card.mounted;
    }
    return false;
}

bool CardRig::replug(const QString &mountRoot)
{
    for (Card &card : m_cards) {
        if (card.mountRoot != mountRoot || card.mounted)
            continue;
        if (m_kind == MediaRoot)
            return card.mounted = QDir().rename(card.parked, card.mountRoot);
        QString error;
        if (!mount(&card, &error))
            qWarning("%s", qPrintable(error));
        return card.mounted;
    }
    return false;
}
