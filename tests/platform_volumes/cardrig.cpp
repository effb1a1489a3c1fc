#include "cardrig.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <unistd.h>

namespace {

bool runTool(const QString &program, const QStringList &arguments, QString *output,
             QString *error)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        if (error)
            *error = QStringLiteral("%1 %2: %3")
                         .arg(program, arguments.join(QLatin1Char(' ')),
                              QString::fromLocal8Bit(process.readAll()).trimmed());
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAll()).trimmed();
    return true;
}

} // namespace

CardRig::CardRig(Kind kind)
    : m_kind(kind)
{
    QDir(m_work.path()).mkpath(QStringLiteral("media"));
    QDir(m_work.path()).mkpath(QStringLiteral("parked"));
}

CardRig::~CardRig()
{
    for (Card &card : m_cards)
        unmountAndDetach(&card);
}

QString CardRig::unavailableReason(Kind kind)
{
    if (kind == MediaRoot)
        return QString();
    if (::geteuid() != 0)
        return QStringLiteral("loop devices and mounts need root; this test runs as uid %1")
            .arg(::geteuid());
    for (const char *tool : {"losetup", "mkfs.exfat", "mount.exfat-fuse", "umount"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty() &&
            QStandardPaths::findExecutable(QString::fromLatin1(tool),
                                           {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")})
                .isEmpty())
            return QStringLiteral("%1 is not installed").arg(QLatin1String(tool));
    }
    if (!QFile::exists(QStringLiteral("/dev/fuse")) ||
        !QFile::exists(QStringLiteral("/dev/loop-control")))
        return QStringLiteral("no /dev/fuse or /dev/loop-control here");
    return QString();
}

QString CardRig::mediaRoot() const
{
    return QDir(m_work.path()).filePath(QStringLiteral("media"));
}

QStringList CardRig::mountRoots() const
{
    QStringList roots;
    for (const Card &card : m_cards)
        roots << card.mountRoot;
    return roots;
}

QString CardRig::plug(const QString &label, QString *error)
{
    Card card;
    card.label = label;
    if (m_kind == MediaRoot) {
        card.mountRoot = QDir(mediaRoot()).filePath(label);
        if (!QDir().mkdir(card.mountRoot)) {
            *error = QStringLiteral("cannot make %1").arg(card.mountRoot);
            return QString();
        }
        card.mounted = true;
        m_cards.append(card);
        return card.mountRoot;
    }
    const int n = int(m_cards.size());
    card.image = QDir(m_work.path()).filePath(QStringLiteral("card%1.img").arg(n));
    card.mountRoot = QDir(mediaRoot()).filePath(QStringLiteral("card%1").arg(n));
    QFile image(card.image);
    if (!image.open(QIODevice::WriteOnly) || !image.resize(16 << 20)) {
        *error = QStringLiteral("cannot make %1").arg(card.image);
        return QString();
    }
    image.close();
    if (!runTool(QStringLiteral("mkfs.exfat"), {QStringLiteral("-L"), label, card.image},
                 nullptr, error))
        return QString();
    QDir().mkpath(card.mountRoot);
    m_cards.append(card);
    if (!attachAndMount(&m_cards.last(), error))
        return QString();
    return card.mountRoot;
}

bool CardRig::attachAndMount(Card *card, QString *error)
{
    if (!runTool(QStringLiteral("losetup"),
                 {QStringLiteral("--find"), QStringLiteral("--show"), card->image}, &card->device,
                 error))
        return false;
    if (!runTool(QStringLiteral("mount.exfat-fuse"), {card->device, card->mountRoot}, nullptr,
                 error)) {
        unmountAndDetach(card);
        return false;
    }
    card->mounted = true;
    return true;
}

void CardRig::unmountAndDetach(Card *card)
{
    if (m_kind == MediaRoot) {
        card->mounted = false;
        return;
    }
    if (card->mounted)
        runTool(QStringLiteral("umount"), {QStringLiteral("-l"), card->mountRoot}, nullptr,
                nullptr);
    card->mounted = false;
    if (!card->otherRoot.isEmpty())
        runTool(QStringLiteral("umount"), {QStringLiteral("-l"), card->otherRoot}, nullptr,
                nullptr);
    card->otherRoot.clear();
    if (!card->disk.isEmpty()) {
        runTool(QStringLiteral("partx"), {QStringLiteral("-d"), card->disk}, nullptr, nullptr);
        runTool(QStringLiteral("losetup"), {QStringLiteral("-d"), card->disk}, nullptr, nullptr);
    } else if (!card->device.isEmpty()) {
        runTool(QStringLiteral("losetup"), {QStringLiteral("-d"), card->device}, nullptr, nullptr);
    }
    card->disk.clear();
    card->device.clear();
}

QString CardRig::deviceOf(const QString &mountRoot) const
{
    for (const Card &card : m_cards) {
        if (card.mountRoot == mountRoot)
            return card.device;
    }
    return QString();
}

QString CardRig::plugBesideSecondPartition(const QString &label, QString *otherRoot,
                                           QString *error)
{
    if (m_kind != Loop) {
        *error = QStringLiteral("partitions need loop devices");
        return QString();
    }
    const int n = int(m_cards.size());
    Card card;
    card.label = label;
    card.image = QDir(m_work.path()).filePath(QStringLiteral("disk%1.img").arg(n));
    card.mountRoot = QDir(mediaRoot()).filePath(QStringLiteral("card%1").arg(n));
    QFile image(card.image);
    // A DOS partition table: two partitions of 16 MiB from sector 2048 on.
    QByteArray mbr(512, '\0');
    auto entry = [&mbr](int slot, quint32 start, quint32 sectors, char type) {
        char *e = mbr.data() + 446 + 16 * slot;
        e[4] = type;
        for (int i = 0; i < 4; ++i) {
            e[8 + i] = char(start >> (8 * i));
            e[12 + i] = char(sectors >> (8 * i));
        }
    };
    entry(0, 2048, 32768, 0x07);
    entry(1, 2048 + 32768, 32768, 0x07);
    mbr[510] = char(0x55);
    mbr[511] = char(0xAA);
    if (!image.open(QIODevice::WriteOnly) || !image.resize(40 << 20) || image.write(mbr) != 512) {
        *error = QStringLiteral("cannot make %1").arg(card.image);
        return QString();
    }
    image.close();
    if (!runTool(QStringLiteral("losetup"),
                 {QStringLiteral("--find"), QStringLiteral("--show"), QStringLiteral("--partscan"),
                  card.image},
                 &card.disk, error))
        return QString();
    m_cards.append(card);
    Card &plugged = m_cards.last();
    const QString first = plugged.disk + QStringLiteral("p1");
    const QString second = plugged.disk + QStringLiteral("p2");
    // The kernel's own scan may come late or not at all; partx adds what is missing.
    runTool(QStringLiteral("partx"), {QStringLiteral("-a"), plugged.disk}, nullptr, nullptr);
    for (int i = 0; i < 100 && !(QFile::exists(first) && QFile::exists(second)); ++i)
        QThread::msleep(20);
    plugged.device = first;
    plugged.otherRoot = QDir(mediaRoot()).filePath(QStringLiteral("other%1").arg(n));
    QDir().mkpath(plugged.mountRoot);
    QDir().mkpath(plugged.otherRoot);
    if (!runTool(QStringLiteral("mkfs.exfat"), {QStringLiteral("-L"), label, first}, nullptr,
                 error) ||
        !runTool(QStringLiteral("mkfs.exfat"), {QStringLiteral("-L"), QStringLiteral("Other"), second},
                 nullptr, error) ||
        !runTool(QStringLiteral("mount.exfat-fuse"), {second, plugged.otherRoot}, nullptr, error) ||
        !runTool(QStringLiteral("mount.exfat-fuse"), {first, plugged.mountRoot}, nullptr, error))
        return QString();
    plugged.mounted = true;
    *otherRoot = plugged.otherRoot;
    return plugged.mountRoot;
}

bool CardRig::pull(const QString &mountRoot)
{
    for (int i = 0; i < m_cards.size(); ++i) {
        Card &card = m_cards[i];
        if (card.mountRoot != mountRoot || !card.mounted)
            continue;
        if (m_kind == MediaRoot) {
            card.parked = QDir(m_work.path()).filePath(QStringLiteral("parked/%1").arg(i));
            card.mounted = !QDir().rename(card.mountRoot, card.parked);
            return !card.mounted;
        }
        unmountAndDetach(&card);
        return true;
    }
    return false;
}

bool CardRig::replug(const QString &mountRoot)
{
    for (Card &card : m_cards) {
        if (card.mountRoot != mountRoot || card.mounted)
            continue;
        if (m_kind == MediaRoot) {
            card.mounted = QDir().rename(card.parked, card.mountRoot);
            return card.mounted;
        }
        QString error;
        if (!attachAndMount(&card, &error)) {
            qWarning("%s", qPrintable(error));
            return false;
        }
        return true;
    }
    return false;
}
