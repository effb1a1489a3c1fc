#pragma once

#include <QDialog>
#include <QWidget>

class QLabel;
class QProgressBar;
class QTimer;
class Mylabel;

// The title bar of the upgrade progress window; dragging it moves the window.
class ShengjiTitlebar : public QWidget
{
    Q_OBJECT
public:
    explicit ShengjiTitlebar(QWidget *parent = nullptr);
    QLabel *label() const { return m_label; }

public slots:
    void onClicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    QLabel *m_label = nullptr;
};

// The modal progress window of a firmware upgrade. It polls the upgrader and can only be
// closed once the camera has confirmed the new firmware.
class ShengJiUi : public QDialog
{
    Q_OBJECT
public:
    explicit ShengJiUi(QWidget *parent = nullptr);

    int progressValue() const;
    bool succeeded() const { return m_succeeded; }
    QLabel *successLabel() const { return m_success; }
    QLabel *percentLabel() const { return m_percent; }
    Mylabel *okButton() const { return m_ok; }
    QTimer *progressTimer() const { return m_progressTimer; }

    // Shows a state without a camera, for the screenshots.
    void showProgressForPreview(int percent);
    void showSuccessForPreview();

public slots:
    void onTimeout();
    void onPress();

protected:
    void reject() override;
    void closeEvent(QCloseEvent *event) override;

private:
    void showProgress(int percent);
    void showSuccess();

    ShengjiTitlebar *m_title = nullptr;
    QProgressBar *m_bar = nullptr;
    QLabel *m_warning = nullptr;
    QLabel *m_upgraded = nullptr;
    QLabel *m_percent = nullptr;
    QLabel *m_success = nullptr;
    QLabel *m_okImage = nullptr;
    Mylabel *m_ok = nullptr;
    QTimer *m_progressTimer = nullptr;
    bool m_succeeded = false;
};
