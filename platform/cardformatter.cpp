#include "cardformatter.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

#include "cardrefusal.h"

std::unique_ptr<CardFormatter> CardFormatter::create()
{
    const QString mediaRoot = qEnvironmentVariable("V7_MEDIA_ROOT");
    if (!mediaRoot.isEmpty())
        return std::make_unique<FolderCardFormatter>(mediaRoot);
    if (::geteuid() == 0)
        return std::make_unique<DirectCardFormatter>();
    return std::make_unique<UDisks2CardFormatter>();
}

QString BlockCardFormatter::refusal(const QString &root) const
{
    return CardRefusal::reason(CardRefusal::gather(root));
}

CardFormatter::Outcome BlockCardFormatter::format(const QString &root, const QString &label)
{
    // Asked again right before the format: the card may have been swapped since the last look.
    const CardDeviceFacts facts = CardRefusal::gather(root);
    Outcome outcome;
    outcome.device = facts.device;
    outcome.error = CardRefusal::reason(facts);
    if (!outcome.error.isEmpty())
        return outcome;
    return formatDevice(facts, label);
}

FolderCardFormatter::FolderCardFormatter(const QString &mediaRoot)
    : m_mediaRoot(QDir::cleanPath(QDir(mediaRoot).absolutePath()))
{}

QString FolderCardFormatter::refusal(const QString &root) const
{
    const QFileInfo info(QDir::cleanPath(root));
    if (root.isEmpty() || !info.isDir())
        return QStringLiteral("%1 不存在").arg(root);
    // In this world the folders right below the media root are the mount points.
    if (QDir::cleanPath(info.absolutePath()) != m_mediaRoot)
        return QStringLiteral("%1 不是挂载点").arg(root);
    if (!QFileInfo(info.absoluteFilePath() + QStringLiteral("/AVF_INFO")).isDir())
        return QStringLiteral("%1 上没有 AVF_INFO 文件夹，不是相机卡").arg(root);
    return QString();
}

CardFormatter::Outcome FolderCardFormatter::format(const QString &root, const QString &label)
{
    Outcome outcome;
    outcome.error = refusal(root);
    if (!outcome.error.isEmpty())
        return outcome;
    QDir card(QDir::cleanPath(root));
    const QString renamed = QDir(m_mediaRoot).filePath(label);
    if (card.dirName() != label && QFileInfo::exists(renamed)) {
        outcome.error = QStringLiteral("%1 已存在").arg(renamed);
        return outcome;
    }
    const QFileInfoList entries =
        card.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        const bool removed = entry.isDir() && !entry.isSymLink()
                                 ? QDir(entry.absoluteFilePath()).removeRecursively()
                                 : QFile::remove(entry.absoluteFilePath());
        if (!removed) {
            outcome.error = QStringLiteral("无法删除 %1").arg(entry.absoluteFilePath());
            return outcome;
        }
    }
    outcome.mountRoot = card.absolutePath();
    if (card.dirName() != label) {
        if (!QDir().rename(card.absolutePath(), renamed)) {
            outcome.error = QStringLiteral("无法把 %1 改名为 %2").arg(card.absolutePath(), label);
            return outcome;
        }
        outcome.mountRoot = renamed;
    }
    outcome.ok = true;
    return outcome;
}
