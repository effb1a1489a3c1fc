#pragma once

#include <QList>
#include <QStringList>
#include <QThread>

#include "restoreplan.h"

// The look before a restore, off the GUI thread: the refusal rule for each card and the photos
// of the cards compared with the verified copies. The cards are read after finished().
class RestoreCheckThread : public QThread
{
    Q_OBJECT
public:
    // Five mount roots in restore order; empty = no card.
    explicit RestoreCheckThread(const QStringList &roots, QObject *parent = nullptr);

    QList<RestoreCard> cards() const { return m_cards; }
    // The first structure file missing from the shipped template, empty when all are there.
    QString templateMissing() const { return m_templateMissing; }

protected:
    void run() override;

private:
    QStringList m_roots;
    QList<RestoreCard> m_cards;
    QString m_templateMissing;
};
