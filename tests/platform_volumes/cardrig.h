#pragma once

#include <QList>
#include <QString>
#include <QTemporaryDir>

// Plugs and pulls labelled cards for the volume tests: exFAT images on loop devices mounted
// with the FUSE driver (root only), or folders of a V7_MEDIA_ROOT. The loop kind touches only
// devices it attached itself and detaches them whatever happens.
class CardRig
{
public:
    enum Kind { Loop, MediaRoot };

    explicit CardRig(Kind kind);
    ~CardRig();

    // Empty when this kind can run here, else why not (the skip reason).
    static QString unavailableReason(Kind kind);
    QString mediaRoot() const { return m_work.filePath(QStringLiteral("media")); }

    // A new card with this volume label; its mount root, or empty with error.
    QString plug(const QString &label, QString *error);
    // A lazy unmount (open files stay readable), or the folder moved out of the media root.
    bool pull(const QString &mountRoot);
    bool replug(const QString &mountRoot);

private:
    struct Card
    {
        QString image;
        QString device;
        QString mountRoot;
        QString parked;
        bool mounted = false;
    };
    bool mount(Card *card, QString *error);
    void unmount(Card *card);

    Kind m_kind;
    QTemporaryDir m_work;
    QList<Card> m_cards;
};
