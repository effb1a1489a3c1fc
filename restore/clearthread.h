#pragma once

#include <QString>
#include <QStringList>
#include <QThread>

#include "restorecards.h"

// The restore worker: formats each given card with its camera's label (centre, left, right,
// back, front, one after the other), then writes the camera's structure files onto each card
// that was formatted. Its figures are read after finished().
class ClearThread : public QThread
{
    Q_OBJECT
public:
    explicit ClearThread(QObject *parent = nullptr);

    // Five mount roots in restore order; an empty one is left alone.
    void setCardRoots(const QStringList &roots) { m_roots = roots; }
    void setTemplateFolder(const QString &folder) { m_template = folder; }

    // Non-zero when the card was formatted and holds the five structure files afterwards.
    int result(int position) const { return m_results[position]; }
    bool formatted(int position) const { return m_formatted[position]; }
    QString error(int position) const { return m_errors[position]; }
    // Where each card is mounted after the restore (a format may move it); the old root for a
    // card that was not formatted.
    QStringList cardRoots() const;

protected:
    void run() override;

private:
    QStringList m_roots;
    QString m_template;
    int m_results[RestoreCards::Count] = {};
    bool m_formatted[RestoreCards::Count] = {};
    QString m_errors[RestoreCards::Count];
    QString m_newRoots[RestoreCards::Count];
};
