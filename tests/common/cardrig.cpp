#include "cardrig.h"

#include "testtools.h"

#include <QDir>
#include <QtEndian>
#include <QStandardPaths>
#include <QTest>

#include <unistd.h>

namespace {

// A card's serial no format picks: mkfs.exfat takes its serials from the clock, and two cards
// made within seconds may share one, so a test could not tell a card was formatted again.
const QString kRigSerial = QStringLiteral("0x5eed5eed");

bool run(const QString &program, const QStringList &arguments, QString *error = nullptr,
         QString *output = nullptr)
{
    const ToolRun run = runTool(program, arguments, {}, 60000);
    const QString text = QString::fromLocal8Bit(run.out + run.err).trimmed();
    if (run.exitCode == 0 && output)
        *output = text;
    if (run.exitCode != 0 && error)
        *error = QStringLiteral("%1 %2: %3").arg(program, arguments.join(QLatin1Char(' ')), text);
    return run.exitCode == 0;
}

// An empty image file of size bytes, starting with head.
bool makeImage(const QString &path, qint64 size, const QByteArray &head, QString *error)
{
    QFile image(path);
    if (image.open(QIODevice::WriteOnly) && image.resize(size) && image.write(head) == head.size())
        return true;
    *error = QStringLiteral("cannot make %1").arg(path);
    return false;
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
        if (QStandardPaths::findExecutable(tool).isEmpty() &&
            QStandardPaths::findExecutable(tool, {"/usr/sbin", "/sbin"}).isEmpty())
            return QStringLiteral("%1 is not installed").arg(QLatin1String(tool));
    }
    if (!QFile::exists("/dev/fuse") || !QFile::exists("/dev/loop-control"))
        return QStringLiteral("no /dev/fuse or /dev/loop-control here");
    return QString();
}

QString CardRig::mediaRoot() const
{
    return m_work.filePath(QStringLiteral("media"));
}

// The latest card plugged at mountRoot (an earlier one there was pulled for good).
int CardRig::indexOf(const QString &mountRoot) const
{
    for (int i = int(m_cards.size()) - 1; i >= 0; --i) {
        if (m_cards.at(i).mountRoot == mountRoot)
            return i;
    }
    return -1;
}

QString CardRig::deviceOf(const QString &mountRoot) const
{
    const int i = indexOf(mountRoot);
    return i < 0 ? QString() : m_cards.at(i).device;
}

QString CardRig::plug(const QString &label, QString *error)
{
    const int n = int(m_cards.size());
    Card card;
    card.mountRoot = QDir(mediaRoot()).filePath(m_kind == MediaRoot ? label
                                                                    : QStringLiteral("card%1").arg(n));
    if (!QDir().mkdir(card.mountRoot)) {
        *error = QStringLiteral("cannot make %1").arg(card.mountRoot);
        return QString();
    }
    card.mounted = m_kind == MediaRoot;
    card.image = m_work.filePath(QStringLiteral("card%1.img").arg(n));
    if (m_kind == Loop && (!makeImage(card.image, 16 << 20, {}, error) ||
                           !run("mkfs.exfat", {"-L", label, card.image}, error) ||
                           !run("tune.exfat", {"-I", kRigSerial, card.image}, error)))
        return QString();
    m_cards.append(card);
    if (m_kind == Loop && !attachAndMount(&m_cards.last(), error))
        return QString();
    return card.mountRoot;
}

QString CardRig::plugBesideSecondPartition(const QString &label, QString *otherRoot,
                                           QString *error)
{
    if (m_kind != Loop) {
        *error = QStringLiteral("partitions need loop devices");
        return QString();
    }
    // A DOS partition table: two partitions of 16 MiB from sector 2048 on.
    QByteArray mbr(512, '\0');
    for (int slot = 0; slot < 2; ++slot) {
        char *entry = mbr.data() + 446 + 16 * slot;
        entry[4] = 0x07;
        qToLittleEndian<quint32>(2048 + 32768 * slot, entry + 8);
        qToLittleEndian<quint32>(32768, entry + 12);
    }
    mbr[510] = char(0x55);
    mbr[511] = char(0xAA);
    const int n = int(m_cards.size());
    Card card;
    card.image = m_work.filePath(QStringLiteral("disk%1.img").arg(n));
    card.mountRoot = QDir(mediaRoot()).filePath(QStringLiteral("card%1").arg(n));
    card.otherRoot = QDir(mediaRoot()).filePath(QStringLiteral("other%1").arg(n));
    if (!makeImage(card.image, 40 << 20, mbr, error) ||
        !run("losetup", {"--find", "--show", "--partscan", card.image}, error, &card.disk))
        return QString();
    m_cards.append(card);
    Card &plugged = m_cards.last();
    plugged.device = plugged.disk + QStringLiteral("p1");
    const QString second = plugged.disk + QStringLiteral("p2");
    // The kernel's own scan may come late or not at all; partx adds what is missing.
    run("partx", {"-a", plugged.disk});
    (void)QTest::qWaitFor(
        [&] { return QFile::exists(plugged.device) && QFile::exists(second); }, 10000);
    QDir().mkpath(plugged.mountRoot);
    QDir().mkpath(plugged.otherRoot);
    if (!run("mkfs.exfat", {"-L", label, plugged.device}, error) ||
        !run("tune.exfat", {"-I", kRigSerial, plugged.device}, error) ||
        !run("mkfs.exfat", {"-L", "Other", second}, error) ||
        !run("mount.exfat-fuse", {second, plugged.otherRoot}, error) ||
        !run("mount.exfat-fuse", {plugged.device, plugged.mountRoot}, error))
        return QString();
    plugged.mounted = true;
    *otherRoot = plugged.otherRoot;
    return plugged.mountRoot;
}

bool CardRig::attachAndMount(Card *card, QString *error)
{
    if (!run("losetup", {"--find", "--show", card->image}, error, &card->device))
        return false;
    card->mounted = run("mount.exfat-fuse", {card->device, card->mountRoot}, error);
    if (!card->mounted)
        unmountAndDetach(card);
    return card->mounted;
}

void CardRig::unmountAndDetach(Card *card)
{
    if (m_kind == Loop) {
        if (card->mounted)
            run("umount", {"-l", card->mountRoot});
        if (!card->otherRoot.isEmpty())
            run("umount", {"-l", card->otherRoot});
        if (!card->disk.isEmpty())
            run("partx", {"-d", card->disk});
        if (!card->disk.isEmpty() || !card->device.isEmpty())
            run("losetup", {"-d", card->disk.isEmpty() ? card->device : card->disk});
        card->otherRoot.clear();
        card->disk.clear();
        card->device.clear();
    }
    card->mounted = false;
}

bool CardRig::detachWhenFree(const QString &mountRoot)
{
    const int i = indexOf(mountRoot);
    if (m_kind != Loop || i < 0 || !m_cards.at(i).disk.isEmpty() ||
        !run("losetup", {"-d", m_cards.at(i).device}))
        return false;
    m_cards[i].device.clear();
    return true;
}

bool CardRig::pull(const QString &mountRoot)
{
    const int i = indexOf(mountRoot);
    Card *card = i < 0 ? nullptr : &m_cards[i];
    if (!card || !card->mounted)
        return false;
    if (m_kind == Loop) {
        unmountAndDetach(card);
        return true;
    }
    card->parked = m_work.filePath(QStringLiteral("parked/%1").arg(i));
    card->mounted = !QDir().rename(card->mountRoot, card->parked);
    return !card->mounted;
}

bool CardRig::replug(const QString &mountRoot)
{
    const int i = indexOf(mountRoot);
    Card *card = i < 0 ? nullptr : &m_cards[i];
    if (!card || card->mounted)
        return false;
    if (m_kind == MediaRoot)
        return card->mounted = QDir().rename(card->parked, card->mountRoot);
    QString error;
    if (!attachAndMount(card, &error))
        qWarning("%s", qPrintable(error));
    return card->mounted;
}
