#pragma once

#include <QWidget>

class QRadioButton;
class Mylabel;

// The edge editor: the camera fires on the rising or the falling edge of its trigger input.
class EdgeExternalOptUi : public QWidget
{
    Q_OBJECT
public:
    explicit EdgeExternalOptUi(QWidget *parent = nullptr);

    bool rising() const;
    void setRising(bool rising);

    QRadioButton *risingButton() const { return m_rising; }
    QRadioButton *fallingButton() const { return m_falling; }
    Mylabel *setupButton() const { return m_setup; }

public slots:
    void onClicked();

private:
    QRadioButton *m_rising = nullptr;
    QRadioButton *m_falling = nullptr;
    Mylabel *m_setup = nullptr;
};
