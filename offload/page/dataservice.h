#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QWidget>

#include "foldersizetotal.h"
#include "offloadplan.h"
#include "photofolder.h"

class Mylabel;
class OffloadRun;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTextEdit;
class QTimer;
struct MyExcelObject;

// The offload page: the operator picks the cameras' photo folders, the target folder and the
// POS tables, starts, pauses and resumes the offload of the five cards and watches its
// progress. The state and texts live in OffloadPlan, the work in OffloadRun; the page only
// sends requests and reads progress.
class DataService : public QWidget
{
    Q_OBJECT
public:
    static DataService *instance();
    explicit DataService(QWidget *parent = nullptr);
    ~DataService() override;

    // Called when the page is entered: offers to continue an unfinished offload.
    void offerResume();

    const OffloadPlan &plan() const { return m_plan; }
    OffloadRun *run() const { return m_run; }
    bool isRunning() const { return m_running; }
    bool isPaused() const { return m_paused; }
    bool isCompleted() const { return m_completed; }
    // The copies are complete; the look at them and the report are still being made.
    bool isFinishing() const { return m_finishing; }

    // What the choosers hand on (the screenshots set a page up through these).
    void selectCameraFolder(int camera, const QString &folder);
    void setTargetFolder(const QString &folder);
    void addPosFile(const QString &path);

    // The widgets, for the screenshots and the tests that drive the page.
    Mylabel *cameraIcon(int camera) const; // by engine camera number
    Mylabel *startButton() const { return m_startPause; }
    Mylabel *targetButton() const { return m_targetBrowse; }
    Mylabel *posAddButton() const { return m_posAdd; }
    Mylabel *posCancelButton() const { return m_posCancel; }
    QCheckBox *sortieBox() const { return m_sortieBox; }
    QLineEdit *offsetEdit() const { return m_offsetEdit; }
    QTextEdit *textArea() const { return m_text; }
    QProgressBar *progressBar() const { return m_progress; }
    QLabel *speedLabel() const { return m_speed; }
    QLabel *timeLeftLabel() const { return m_timeLeft; }
    QLabel *targetLabel() const { return m_targetText; }
    QLabel *reportLink() const { return m_reportLink; }
    QTimer *progressTimer() const { return m_timer; }

public slots:
    void slotnewObject(MyExcelObject *object);
    void slotCenterOtherCount(int count);
    void onTimeout();
    void onStateChanged(int state);
    void onStateChanged1(int state);
    void onsignalclose();
    void onStateChanged2(int state);
    void slotcurrentIndexChanged(int index);
    void slotDeviceAdded(const QString &mountRoot);
    void slotDeviceChanged(const QString &mountRoot);
    void slotDeviceRemoved(const QString &mountRoot);
    void onClicked();
    quint64 dirFileSize(const QString &folder);

signals:
    // A folder listing started by a camera icon has come back (tests wait for it).
    void folderListed(int camera);
    // The free space of the target's volume is known.
    void targetMeasured();

private:
    void buildControls();
    void buildOptions();
    void showIcon(int camera, bool selected);
    void showText(const QString &text);
    void setRunning(bool running);

    void cameraClicked(int camera);
    void folderChosen(int camera, const QString &folder, const PhotoFolder::Listing &listing);
    void targetClicked();
    void posAddClicked();
    void posCancelClicked();
    void startClicked();
    void startNew();
    void pauseRun();
    void resumeRun();
    void haltRun();
    void showLook(); // finishing: the look at the copies and how far it is
    void runStarted(bool ok, const QString &error);
    void runFinished(int blockFiles, const QStringList &messages);
    void resetAfterCompletion(const QString &note = QString(), bool outputsWritten = true);
    void showReport();
    // The last offload's result (the full bar, its text, the report's link) stays until the next
    // offload is set up: any change of cards, target, tables or options, or a new start.
    void leaveCompleted();
    qint64 neededMiB() const;
    QString driveOf(const QString &folder) const;

    // Prompts open nested event loops: watcher events that come meanwhile wait their turn.
    void driveEvent(int kind, const QString &mountRoot);
    void handleDriveEvent(int kind, const QString &mountRoot);

    OffloadPlan m_plan;
    OffloadRun *m_run = nullptr;

    Mylabel *m_icons[Cameras::Count] = {}; // by engine camera number
    Mylabel *m_posAdd = nullptr;
    Mylabel *m_posCancel = nullptr;
    Mylabel *m_posBrowse = nullptr;
    Mylabel *m_targetBrowse = nullptr;
    Mylabel *m_startPause = nullptr;
    QLabel *m_targetText = nullptr;
    QLabel *m_speed = nullptr;
    QLabel *m_timeLeft = nullptr;
    QLabel *m_reportLink = nullptr;
    QCheckBox *m_sortieBox = nullptr;
    QCheckBox *m_prefixBox = nullptr; // copies named with their camera first
    QCheckBox *m_volumeBox = nullptr;
    QLineEdit *m_volumeEdit = nullptr;
    QComboBox *m_unitBox = nullptr;
    QCheckBox *m_passwordBox = nullptr;
    QLineEdit *m_passwordEdit = nullptr;
    QLineEdit *m_offsetEdit = nullptr; // camera clock minus POS clock; blank: from the photos
    QTextEdit *m_text = nullptr;
    QProgressBar *m_progress = nullptr;
    QTimer *m_timer = nullptr;

    FolderSizeTotal m_sizes[Cameras::Count]; // MiB of each selected folder
    qint64 m_freeMiB = 0;
    int m_extraPlanned = 0;
    QString m_resultText; // the last reading, still shown once the offload completed
    QSet<int> m_listing; // cameras whose folder is being listed

    bool m_running = false;   // shown by the start/pause icon
    bool m_paused = false;    // the next start resumes the same tasks
    bool m_completed = false; // an offload completed since the program started
    bool m_finishing = false;
    bool m_started = false; // the run holds the tasks of the offload on the page
    bool m_resumingPaused = false; // the request in flight continues paused tasks
    bool m_showingResult = false;  // the last offload's result is on the page

    int m_promptDepth = 0;
    QList<QPair<int, QString>> m_waitingEvents;
};
