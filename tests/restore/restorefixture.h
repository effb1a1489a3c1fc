#pragma once

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <thread>

#include "cardtemplate.h"
#include "datafolders.h"
#include "myflyui.h"
#include "mylabel.h"
#include "mytipui.h"
#include "offloadfixture.h"
#include "offloadsession.h"
#include "reductionwidget.h"
#include "restorecards.h"

// Helpers the restore tests share: camera cards with photos, an offload of them that the save
// gate will find, and an operator who answers the program's boxes in turn.
namespace RestoreFixture {

// Answers each modal box as it comes up ("yes"/"no" for questions; boxes with an OK button
// are confirmed) and keeps their texts ("text|second" for the one-button box).
class ModalAnswerer : public QObject
{
public:
    explicit ModalAnswerer(const QStringList &answers)
        : m_answers(answers)
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
        m_timer.start(10);
    }
    QStringList texts;

private:
    void poll()
    {
        QWidget *box = QApplication::activeModalWidget();
        if (!box || box == m_last)
            return;
        if (auto *tip = qobject_cast<MyTipUi *>(box)) {
            m_last = box;
            texts << tip->label_2->text();
            const bool yes = !m_answers.isEmpty() && m_answers.takeFirst() == QLatin1String("yes");
            QTest::mouseClick(yes ? tip->yesLabel() : tip->noLabel(), Qt::LeftButton);
        } else if (auto *fly = qobject_cast<MyFlyUi *>(box)) {
            if (!fly->okText->isVisible()) // the busy box: nothing to press
                return;
            m_last = box;
            texts << fly->label_2->text() + QLatin1Char('|') + fly->label_3->text();
            QTest::mouseClick(fly->okText, Qt::LeftButton);
        }
    }

    QStringList m_answers;
    QTimer m_timer;
    QPointer<QWidget> m_last;
};

// A camera card: the camera's "AVF_INFO" folder and photos in DCIM/100MSDCF.
inline bool makeCameraCard(const QString &root, int photos, bool avfInfo = true)
{
    if (avfInfo && !QDir().mkpath(root + QStringLiteral("/AVF_INFO")))
        return false;
    return OffloadFixture::makeCard(root + QStringLiteral("/DCIM/100MSDCF"), photos);
}

// Offloads the photo folders of the cards (restore order, empty = none) into target with the
// engine and records the offload where the restore looks for it.
inline bool offload(const QStringList &roots, const QString &target)
{
    OffloadSession session;
    session.setStateFolder(DataFolders::perUserDataFolder());
    OffloadSession::Setup setup;
    for (int position = 0; position < RestoreCards::Count; ++position) {
        if (!roots.value(position).isEmpty())
            setup.sources[RestoreCards::engineCamera(position)] =
                roots.at(position) + QStringLiteral("/DCIM/100MSDCF");
    }
    setup.target = target;
    if (std::all_of(std::begin(setup.sources), std::end(setup.sources),
                    [](const QString &source) { return source.isEmpty(); }))
        return true;
    QString error;
    if (!session.start(setup, &error)) {
        qWarning("offload: %s", qPrintable(error));
        return false;
    }
    while (session.running())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return session.complete() && session.saveConfig(true);
}

// Presses the restore button and waits until the restore has ended (or, when no restore
// starts, until the answers are used up and the events have settled).
inline bool pressRestore(ReductionWidget *page, ModalAnswerer *answerer, int expectedBoxes)
{
    QSignalSpy ended(page, &ReductionWidget::restoreEnded);
    QTest::mouseClick(page->restoreButton(), Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return answerer->texts.size() >= expectedBoxes; }, 60000))
        return false;
    if (ended.isEmpty() && page->busyDialog() &&
        !QTest::qWaitFor([&] { return !ended.isEmpty(); }, 60000))
        return false;
    QTest::qWait(50); // the last box closes, the storage check after the restore reports
    return true;
}

} // namespace RestoreFixture
