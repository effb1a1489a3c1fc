#pragma once

#include <QPointer>
#include <QStringList>
#include <QTimer>

class DataService;

// Answers the folder and file choosers the offload page opens, in the order queued, as an
// operator would: the chosen path typed in, then accepted. An empty answer cancels.
class ChooserAnswers
{
public:
    ChooserAnswers();
    void queue(const QString &path) { m_answers << path; }
    int asked() const { return m_asked; }
    QStringList titles() const { return m_titles; }
    QStringList startFolders() const { return m_starts; }

private:
    QTimer m_timer;
    QStringList m_answers;
    QStringList m_titles;
    QStringList m_starts;
    int m_asked = 0;
};
