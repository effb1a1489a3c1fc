#pragma once

#include <QWidget>

#include <array>

#include "v7k.h"

class QStackedWidget;
class Mylabel;
class DistanceAutoOptUi;
class TimerAutoOptUi;
class EdgeExternalOptUi;
class IOExternalOptUi;
class PWMExternalOptUi;

// The capture strategy page: five mode buttons over the five trigger editors, filled once per
// run from the camera's first valid record.
class GatherStrategyOptUi : public QWidget
{
    Q_OBJECT
public:
    // Stacked pages, in the order of the buttons from left to right.
    enum Page { DistancePage, TimerPage, EdgePage, IoPage, PwmPage, PageCount };

    static GatherStrategyOptUi *instance();

    QStackedWidget *stack() const { return m_stack; }
    Mylabel *modeButton(Page page) const { return m_buttons[page]; }
    DistanceAutoOptUi *distanceEditor() const { return m_distance; }
    TimerAutoOptUi *timerEditor() const { return m_timer; }
    EdgeExternalOptUi *edgeEditor() const { return m_edge; }
    IOExternalOptUi *ioEditor() const { return m_io; }
    PWMExternalOptUi *pwmEditor() const { return m_pwm; }

public slots:
    void onClicked();
    // Fills every editor from the camera's record: the link hands it out once per run.
    void loadFromCamera(const WorkParam &record);

private:
    explicit GatherStrategyOptUi(QWidget *parent = nullptr);
    void select(Page page);

    std::array<Mylabel *, PageCount> m_buttons{};
    QStackedWidget *m_stack = nullptr;
    DistanceAutoOptUi *m_distance = nullptr;
    TimerAutoOptUi *m_timer = nullptr;
    EdgeExternalOptUi *m_edge = nullptr;
    IOExternalOptUi *m_io = nullptr;
    PWMExternalOptUi *m_pwm = nullptr;
};
