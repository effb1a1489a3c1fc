#pragma once

#include <QList>
#include <QString>
#include <QTemporaryDir>

// Plugs and pulls labelled cards for the volume tests: real exFAT images on loop devices
// mounted with the FUSE driver (root only), or folders of a V7_MEDIA_ROOT. The loop kind only
// touches devices it attached itself and detaches them whatever happens.
class CardRig
{
public:
    enum Kind { Loop, MediaRoot };

    explicit CardRig(Kind kind);
    ~CardRig();
    CardRig(const CardRig &) = delete;
    CardRig &operator=(const CardRig &) = delete;

    // Empty when this kind can run here, else why not (printed as the skip reason).
    static QString unavailableReason(Kind kind);
    // The folder V7_MEDIA_ROOT must name for the media root kind (set before the first query).
    QString mediaRoot() const;
    // A new card with this volume label; returns its mount root, empty with error on failure.
    QString plug(const QString &label, QString *error);
    // Loop only: a card on the first partition of a disk whose second partition (label
    // "Other") is mounted too, at *otherRoot. Returns the card's mount root.
    QString plugBesideSecondPartition(const QString &label, QString *otherRoot, QString *error);
    // A lazy unmount (open files stay readable, as a pulled card's reads fail only later);
    // a loop card keeps its image for replug(), which mounts it at the same root again.
    bool pull(const QString &mountRoot);
    bool replug(const QString &mountRoot);
    // The block device of a loop card ("/dev/loop3", or its first partition).
    QString deviceOf(const QString &mountRoot) const;
    // Loop only: the device goes as soon as nothing holds it any more (a card pulled while it
    // is unmounted). The rig forgets it: by the time it cleans up, it may be someone else's.
    bool detachWhenFree(const QString &mountRoot);

private:
    struct Card
    {
        QString image, device, mountRoot;
        QString parked;    // media root: where a pulled card's folder waits
        QString disk;      // a partitioned card: the loop device of the whole image
        QString otherRoot; // and where its second partition is mounted
        bool mounted = false;
    };
    int indexOf(const QString &mountRoot) const;
    bool attachAndMount(Card *card, QString *error);
    void unmountAndDetach(Card *card);

    Kind m_kind;
    QTemporaryDir m_work;
    QList<Card> m_cards;
};
