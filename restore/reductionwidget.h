#pragma once

#include <QStringList>
#include <QWidget>

class ClearThread;
class Mylabel;
class MyFlyUi;
class MyTipUi;
class QCheckBox;
class QLabel;
class QProgressBar;
class RestoreCheckThread;

// Page 5: how full each camera card is, and the restore that formats the cards and writes the
// camera's structure files onto them, behind a question and a check that no unsaved photo is
// erased without a second yes.
class ReductionWidget : public QWidget
{
    Q_OBJECT
public:
    static constexpr int Cards = 5;

    static ReductionWidget *instance();
    explicit ReductionWidget(QWidget *parent = nullptr);

    // Last figures per card, centre, left, right, back, front; a total of 0 or less = no card.
    double freeGiB[Cards] = {};
    double totalGiB[Cards] = {};

    // The cards' mount roots in restore order, empty = no card: the camera cards' unless given
    // here (tests and screenshots).
    void setCardRoots(const QStringList &roots);
    QStringList cardRoots() const;

    // By restore position (centre, left, right, back, front).
    QProgressBar *storageBar(int position) const { return m_bars[position]; }
    QLabel *storageText(int position) const { return m_texts[position]; }
    QLabel *resultIcon(int position) const { return m_icons[position]; }
    // Of the last check: the card's photos with one verified copy or none (RestorePlan::copyText).
    QLabel *copiesText(int position) const { return m_copies[position]; }
    Mylabel *restoreButton() const { return m_button; }
    QCheckBox *twoCopiesBox() const { return m_twoCopies; }
    // The busy dialog of the restore in hand; null when none runs.
    MyFlyUi *busyDialog() const { return m_busy; }

    // The page's boxes, centred on the main window. The busy dialog turns its picture and has
    // no usable button; the notice lets its second text wrap; the question has three lines.
    static MyFlyUi *makeBusyDialog(QWidget *parent, const QString &text);
    static MyFlyUi *makeNotice(QWidget *parent, const QString &text, const QString &second);
    static MyTipUi *makeQuestion(QWidget *parent, const QString &question);

signals:
    // A restore ended: formatted and written, or stopped before anything was formatted.
    void restoreEnded();

public slots:
    void UpGrade();
    void poptip();
    void closetip();
    void setStorage(int position, double freeGiB, double totalGiB);
    void refreshStorage();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildRows();
    void startRestore();
    void onChecked();
    void stopBeforeFormat();
    void startCardCheck(const QStringList &roots);
    void showBusy(const QString &text);

    QStringList m_roots; // given ones; null = ask the camera cards
    bool m_rootsGiven = false;
    QProgressBar *m_bars[Cards] = {};
    QLabel *m_texts[Cards] = {};
    QLabel *m_icons[Cards] = {};
    QLabel *m_copies[Cards] = {};
    Mylabel *m_button = nullptr;
    QCheckBox *m_twoCopies = nullptr; // "清除前要求两份备份", kept in the settings file
    MyFlyUi *m_busy = nullptr;
    bool m_running = false; // from the confirmation to closetip(): no second restore
    RestoreCheckThread *m_check = nullptr;
    ClearThread *m_clear = nullptr;
};
