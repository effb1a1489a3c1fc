#pragma once

#include <QWidget>

class QStackedWidget;
class Mylabel;

// The title bar of the connection settings window: title, close button, drag to move.
class WifiTitleBar : public QWidget
{
    Q_OBJECT
public:
    explicit WifiTitleBar(QWidget *parent = nullptr);
    Mylabel *closeButton() const { return m_close; }

public slots:
    void onClicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    Mylabel *m_close = nullptr;
};

// The connection settings window opened by the network entry; it hosts the link page. Closing
// it only hides it: the link goes on.
class AirSerial : public QWidget
{
    Q_OBJECT
public:
    static AirSerial *instance(QWidget *parent);
    WifiTitleBar *titleBar() const { return m_titleBar; }

private:
    explicit AirSerial(QWidget *parent);

    WifiTitleBar *m_titleBar = nullptr;
    QStackedWidget *m_stack = nullptr;
};
