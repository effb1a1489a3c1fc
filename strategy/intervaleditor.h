#pragma once

#include <QList>
#include <QWidget>

#include "triggerforms.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QValidator;
class Mylabel;

// The layout the timer and the distance editor share: the interval row, the "激活方式"
// drop-down, the five groups it switches between, and the setup button. The two editors differ
// in texts, validators and what their setup and landing-gear check box do.
class IntervalEditor : public QWidget
{
    Q_OBJECT
public:
    struct Texts
    {
        QString intervalCaption;
        QString intervalUnit;
        QString gearCaption;
    };

    IntervalEditor(const Texts &texts, QWidget *parent);

    // The fields as typed, and the landing-gear flag.
    IntervalForm form() const;

    bool landingGearDown = false;

    QLineEdit *intervalEdit() const { return m_interval; }
    QComboBox *activationBox() const { return m_activation; }
    QCheckBox *gearBox() const { return m_gear; }
    QRadioButton *highButton() const { return m_high; }
    QRadioButton *lowButton() const { return m_low; }
    QLineEdit *powerOnEdit() const { return m_powerOn; }
    QLineEdit *manualEdit() const { return m_manual; }
    QLineEdit *altitudeEdit() const { return m_altitude; }
    Mylabel *setupButton() const { return m_setup; }
    // The widgets of one drop-down entry's group.
    const QList<QWidget *> &group(int entry) const { return m_groups[entry]; }

public slots:
    void slotcurrentIndexChanged(int index);
    virtual void onStateChanged(int state) = 0;
    virtual void onClicked() = 0;

protected:
    // Each of the four number fields gets its own validator from `make`.
    template <typename Make> void setValidators(Make make)
    {
        for (QLineEdit *edit : {m_interval, m_powerOn, m_manual, m_altitude})
            setFieldValidator(edit, make(edit));
    }

private:
    static void setFieldValidator(QLineEdit *edit, QValidator *validator);

    QLineEdit *m_interval = nullptr;
    QComboBox *m_activation = nullptr;
    QCheckBox *m_gear = nullptr;
    QRadioButton *m_high = nullptr;
    QRadioButton *m_low = nullptr;
    QLineEdit *m_powerOn = nullptr;
    QLineEdit *m_manual = nullptr;
    QLineEdit *m_altitude = nullptr;
    Mylabel *m_setup = nullptr;
    QList<QWidget *> m_groups[5];
};
