#pragma once

#include <QWidget>

class QLabel;
class Mylabel;

// The title bar of the frameless main window: logo, help, version, minimise and close.
class TitleBar : public QWidget
{
    Q_OBJECT
public:
    explicit TitleBar(QWidget *parent = nullptr);
    ~TitleBar() override;

    Mylabel *helpButton() const { return m_help; }
    Mylabel *versionButton() const { return m_version; }
    Mylabel *minimiseButton() const { return m_minimise; }
    Mylabel *closeButton() const { return m_close; }
    QLabel *titleLabel() const { return m_title; }

signals:
    void signalclose();

public slots:
    void onClicked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void openManual(QWidget *top);

    QLabel *m_logo = nullptr;
    QLabel *m_title = nullptr;
    Mylabel *m_help = nullptr;
    Mylabel *m_version = nullptr;
    Mylabel *m_minimise = nullptr;
    Mylabel *m_close = nullptr;
};
