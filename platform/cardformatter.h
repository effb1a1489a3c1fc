#pragma once

#include <QString>

#include <memory>

struct CardDeviceFacts;

// Quick-formats the volume mounted at a camera card's root as exFAT with the camera's label,
// waits for the end and makes the card available again. Every backend first asks the same
// refusal rule and touches nothing when it answers.
class CardFormatter
{
public:
    struct Outcome
    {
        bool ok = false;
        QString error;     // for the operator, when not ok
        QString mountRoot; // where the card is mounted now (UDisks2 may choose a new folder)
        QString device;
    };

    virtual ~CardFormatter() = default;

    // The backend for this process: folders of V7_MEDIA_ROOT, the direct one when running as
    // root, else UDisks2 on the system bus.
    static std::unique_ptr<CardFormatter> create();

    virtual QString name() const = 0;
    // Why the card at root must not be formatted; empty when it may. Changes nothing.
    virtual QString refusal(const QString &root) const = 0;
    // Blocks until the card is formatted and mounted again, or until a step fails.
    virtual Outcome format(const QString &root, const QString &label) = 0;
};

// The backends of real block devices: the refusal rule on the system's facts, then one way of
// unmounting, making the file system and mounting again.
class BlockCardFormatter : public CardFormatter
{
public:
    QString refusal(const QString &root) const override;
    Outcome format(const QString &root, const QString &label) override;

protected:
    virtual Outcome formatDevice(const CardDeviceFacts &facts, const QString &label) = 0;
    // Mounts the device on the card's old folder with the system's tools (root only): the FUSE
    // driver where it had it or the kernel has no exFAT, else the kernel's driver.
    static bool mountWithTools(const CardDeviceFacts &facts, const QString &fsType, QString *error);
};

// As root: umount, mkfs.exfat -L, and mount again with the driver that had it.
class DirectCardFormatter : public BlockCardFormatter
{
public:
    QString name() const override { return QStringLiteral("direct"); }

protected:
    Outcome formatDevice(const CardDeviceFacts &facts, const QString &label) override;
};

// For a desktop user: the UDisks2 service unmounts, formats and mounts (with its own rights).
// It refuses what the service counts as the system's own. UDisks2 mounts with the kernel's
// drivers only: where that fails and this process is root, the card is mounted on its old
// folder with the system's tools, as the direct backend does.
class UDisks2CardFormatter : public BlockCardFormatter
{
public:
    QString name() const override { return QStringLiteral("udisks2"); }
    // The calls for one device, without the refusal rule (which reads this system) and
    // without a folder to fall back to.
    Outcome formatBlock(const QString &device, const QString &label);

protected:
    Outcome formatDevice(const CardDeviceFacts &facts, const QString &label) override;

private:
    Outcome formatThrough(const QString &device, const QString &label,
                          const CardDeviceFacts *facts);
    // Where the service (or, failing it, the system's tools) mounted the card; empty on failure.
    static QString mountCard(const QString &block, const CardDeviceFacts *facts,
                             const QString &fsType, QString *error);
};

// Demo and tests without devices: a card is a sub-folder of V7_MEDIA_ROOT named by its label;
// formatting empties it and gives it the new label as its name.
class FolderCardFormatter : public CardFormatter
{
public:
    explicit FolderCardFormatter(const QString &mediaRoot);
    QString name() const override { return QStringLiteral("media root"); }
    QString refusal(const QString &root) const override;
    Outcome format(const QString &root, const QString &label) override;

private:
    QString m_mediaRoot;
};
