#pragma once

#include <QWidget>

#include "triggerforms.h"

class QLineEdit;
class Mylabel;

// The PWM editor: the camera fires on a pulse of the given length and period on its PWM input.
class PWMExternalOptUi : public QWidget
{
    Q_OBJECT
public:
    explicit PWMExternalOptUi(QWidget *parent = nullptr);

    PwmForm form() const;
    void setForm(const PwmForm &form);

    QLineEdit *pulseDurationEdit() const { return m_pulseDuration; }
    QLineEdit *pulseTimeEdit() const { return m_pulseTime; }
    QLineEdit *periodEdit() const { return m_period; }
    Mylabel *setupButton() const { return m_setup; }

public slots:
    void onClicked();

private:
    QLineEdit *m_pulseDuration = nullptr;
    QLineEdit *m_pulseTime = nullptr;
    QLineEdit *m_period = nullptr;
    Mylabel *m_setup = nullptr;
};
