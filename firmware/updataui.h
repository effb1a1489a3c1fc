#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;
class Mylabel;

// The update window opened by the title bar's version button: serial, firmware version, a check
// for a newer version and the local upgrade.
class UpdataUi : public QWidget
{
    Q_OBJECT
public:
    // A window of its own; `over` is the window the upgrade's progress window belongs to once
    // this one has closed.
    explicit UpdataUi(QWidget *over = nullptr);

    QLabel *serialLabel() const { return m_serial; }
    QLabel *versionLabel() const { return m_version; }
    QLabel *statusLabel() const { return m_status; }
    QPushButton *checkButton() const { return m_check; }
    QPushButton *upgradeButton() const { return m_upgrade; }

public slots:
    void slotShengji();
    void slotCheck();

private:
    QLabel *m_serial = nullptr;
    QLabel *m_version = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_check = nullptr;
    QPushButton *m_upgrade = nullptr;
    QPointer<QWidget> m_over;
};
