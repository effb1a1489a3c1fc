#pragma once

#include <QString>

// One program on this computer talks to the camera at a time: the camera sends its status to
// whoever asked last, so a second program silently takes the link from the first. Whoever
// connects holds an exclusive lock on a small file named after the camera's address; the file
// names the holder (process id and program). The kernel drops the lock with its process, so a
// lock left by a killed program never blocks.
class LinkLock
{
public:
    enum Result { Acquired, Held, Unavailable };

    // A program on this computer that holds or talks to the camera.
    struct Holder
    {
        qint64 pid = 0;
        QString program;

        bool known() const { return pid > 0; }
        // "V7KAPP (pid 1234)"
        QString describe() const;
    };

    LinkLock() = default;
    ~LinkLock() { release(); }
    LinkLock(const LinkLock &) = delete;
    LinkLock &operator=(const LinkLock &) = delete;

    // Held: holder() names who has it. Unavailable: no lock file can be made here; the caller
    // goes on without one rather than leave the crew without the camera.
    Result acquire();
    void release();
    bool held() const { return m_fd >= 0; }
    const Holder &holder() const { return m_holder; }

    // The address the device library talks to: V7_CAMERA_ADDRESS when set, else the camera's.
    static QString cameraAddress();
    // V7_STATE_DIR when set (parallel tests keep apart), else XDG_RUNTIME_DIR, else a folder of
    // this user's under the temporary folder.
    static QString folder();
    static QString path();

    // Another process on this computer whose socket is connected to the camera's address,
    // whether it took the lock or not; unknown when there is none. Reads /proc: not for the
    // GUI thread.
    static Holder otherTalker();

private:
    int m_fd = -1;
    Holder m_holder;
};
