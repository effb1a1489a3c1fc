// The card formatter's UDisks2 backend against the real daemon, on exFAT cards on loop devices
// (root only): what the service does where the double only answers as told.
#include <QtTest>

#include "cardformatter.h"
#include "cardrig.h"
#include "udisks2rig.h"

namespace {

enum Before { Nothing, HoldAFile, PullDuringUnmount };

bool kernelHasExfat()
{
    QFile file(QStringLiteral("/proc/filesystems"));
    return file.open(QIODevice::ReadOnly) && file.readAll().contains("\texfat\n");
}

} // namespace

class tst_UDisks2Loop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void format_data();
    void format();
    void cleanupTestCase();

private:
    std::unique_ptr<UDisks2Rig> m_rig;
    std::unique_ptr<CardRig> m_cards; // gone before the daemons, which see the devices go
};

void tst_UDisks2Loop::initTestCase()
{
    for (const QString &reason :
         {CardRig::unavailableReason(CardRig::Loop), UDisks2Rig::unavailableReason()}) {
        if (!reason.isEmpty())
            QSKIP(qPrintable(reason));
    }
    m_rig = std::make_unique<UDisks2Rig>();
    m_cards = std::make_unique<CardRig>(CardRig::Loop);
    QString error;
    QVERIFY2(m_rig->start(&error), qPrintable(error));
}

void tst_UDisks2Loop::format_data()
{
    QTest::addColumn<bool>("userCard"); // false: UDisks2 counts it as the system's own
    QTest::addColumn<int>("before");
    QTest::addColumn<QString>("error"); // a part of it; empty = formatted

    QTest::newRow("unmounted, formatted with the camera's label, mounted again")
        << true << int(Nothing) << "";
    QTest::newRow("a card with a file open is not formatted") << true << int(HoldAFile) << "卸载";
    QTest::newRow("a device the service counts as the system's")
        << false << int(Nothing) << "系统设备";
    QTest::newRow("a card pulled during the unmount")
        << true << int(PullDuringUnmount) << "格式化 /dev/loop";
}

void tst_UDisks2Loop::format()
{
    QFETCH(bool, userCard);
    QFETCH(int, before);
    QFETCH(QString, error);
    QString why;
    const QString root = m_cards->plug(QStringLiteral("OLD"), &why);
    const QString device = m_cards->deviceOf(root);
    QVERIFY2(!root.isEmpty() && QDir(root).mkpath("AVF_INFO/101") &&
                 m_rig->show(device, root, userCard, &why),
             qPrintable(why));
    QFile held(root + QStringLiteral("/AVF_INFO/101/held.jpg"));
    if (before == HoldAFile)
        QVERIFY(held.open(QIODevice::WriteOnly));
    if (before == PullDuringUnmount)
        QVERIFY(m_cards->detachWhenFree(root));

    const CardFormatter::Outcome outcome = UDisks2CardFormatter().format(root, "Center");
    held.close();
    QCOMPARE(outcome.device, device);
    QVERIFY2(error.isEmpty() ? outcome.ok : outcome.error.contains(error),
             qPrintable(outcome.error));
    QCOMPARE(outcome.ok, error.isEmpty());
    if (before == PullDuringUnmount) {
        // The device is no longer the rig's to look at; nothing is mounted on the card's folder.
        QVERIFY(QStorageInfo(root).rootPath() != root);
        return;
    }
    if (outcome.ok) {
        QCOMPARE(UDisks2Rig::labelOf(device), QStringLiteral("Center"));
        // Without the kernel's exFAT the service cannot mount it: as root the backend mounts it
        // with the FUSE driver on its old folder.
        QCOMPARE(outcome.mountRoot, kernelHasExfat() ? QStringLiteral("/media/root/Center") : root);
        QCOMPARE(UDisks2Rig::mountPointsOf(device), QStringList{outcome.mountRoot});
        QVERIFY(QDir(outcome.mountRoot).isEmpty());
        QVERIFY(QDir(outcome.mountRoot).mkdir(QStringLiteral("AVF_INFO")));
        if (outcome.mountRoot != root) // the rig unmounts its own folders only
            QCOMPARE(QProcess::execute("umount", {outcome.mountRoot}), 0);
    } else {
        QCOMPARE(UDisks2Rig::labelOf(device), QStringLiteral("OLD"));
        QCOMPARE(UDisks2Rig::mountPointsOf(device), QStringList{root});
        QVERIFY(QFileInfo(root + QStringLiteral("/AVF_INFO/101")).isDir());
    }
}

void tst_UDisks2Loop::cleanupTestCase()
{
    m_cards.reset();
    m_rig.reset();
}

QTEST_GUILESS_MAIN(tst_UDisks2Loop)
#include "tst_udisks2_loop.moc"
