#pragma once

#include <QStringList>
#include <QThread>

// One-shot worker started by the card-restore entry: measures the five camera cards and tells
// the restore page whether any card is there (popui when none is: the cards themselves are the
// card room's, this only measures what it was given).
class CheckV7Thread : public QThread
{
    Q_OBJECT
public:
    // Card mount roots in the order centre, left, right, back, front; empty = no card.
    explicit CheckV7Thread(const QStringList &cardPaths, QObject *parent = nullptr);

    // Free (total = false) or total size of the volume holding path, in GiB.
    static double diskSpaceGiB(const QString &path, bool total);

signals:
    void cardStorage(int position, double freeGiB, double totalGiB);
    void storageRefresh();
    void upgrade();
    void popui();

protected:
    void run() override;

private:
    QStringList m_paths;
};
