#pragma once

#include <QPointer>
#include <QProcess>
#include <QStringList>
#include <QTimer>

// The camera simulator on a loopback port of its own, for the tests that drive the device
// library end to end. It sets V7_CAMERA_ADDRESS so that the library talks only to it.
class CamsimProcess
{
public:
    ~CamsimProcess() { stop(); }

    bool start(const QStringList &options = {});
    // A camera restarted on the same port, possibly as another model or with other firmware.
    bool restart(const QStringList &options);
    void stop();
    // SIGUSR1: the camera stops (or resumes) answering; waits until the simulator says it is
    // silent (or speaking) again.
    bool toggleSilence(bool expectSilent);
    quint16 port() const { return m_port; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

// Answers the modal boxes that the code under test opens, and remembers their texts.
class PromptCatcher
{
public:
    PromptCatcher();
    void answerQuestionsWith(bool yes) { m_yes = yes; }
    // The questions' answers in turn instead ("yes", else no; no once used up). Each box is then
    // answered once, and one without its OK button (a busy box) is left to close by itself.
    void answerInTurn(const QStringList &answers)
    {
        m_turns = answers;
        m_inTurn = true;
    }
    QStringList texts() const { return m_texts; } // main text, plus " / second text" if any
    void clear() { m_texts.clear(); }

private:
    QTimer m_timer;
    QStringList m_texts;
    bool m_yes = false;
    QStringList m_turns;
    bool m_inTurn = false;
    QPointer<QObject> m_last; // the box answered last
};
