#pragma once

#include <QWidget>

#include "triggerforms.h"

class QLineEdit;
class QRadioButton;
class Mylabel;

// The IO editor: the camera fires while its IO line holds the chosen level for the duration.
class IOExternalOptUi : public QWidget
{
    Q_OBJECT
public:
    explicit IOExternalOptUi(QWidget *parent = nullptr);

    IoForm form() const;
    void setForm(const IoForm &form);

    QRadioButton *highButton() const { return m_high; }
    QRadioButton *lowButton() const { return m_low; }
    QLineEdit *durationEdit() const { return m_duration; }
    Mylabel *setupButton() const { return m_setup; }

public slots:
    void onClicked();

private:
    QRadioButton *m_high = nullptr;
    QRadioButton *m_low = nullptr;
    QLineEdit *m_duration = nullptr;
    Mylabel *m_setup = nullptr;
};
