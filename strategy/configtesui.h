#pragma once

#include <QWidget>

class QLabel;
class QStackedWidget;
class Mylabel;

// The configuration page of the main window: the capture strategy and the device debugging
// pages under two tabs.
class ConfigTesUi : public QWidget
{
    Q_OBJECT
public:
    explicit ConfigTesUi(QWidget *parent = nullptr);

    Mylabel *strategyTab() const { return m_strategyTab; }
    Mylabel *debugTab() const { return m_debugTab; }
    QStackedWidget *stack() const { return m_stack; }

public slots:
    void onClicked();

private:
    void selectTab(bool strategy);

    Mylabel *m_strategyTab = nullptr;
    Mylabel *m_debugTab = nullptr;
    QLabel *m_header = nullptr;
    QStackedWidget *m_stack = nullptr;
};
