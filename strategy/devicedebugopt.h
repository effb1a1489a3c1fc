#pragma once

#include <QWidget>

#include <array>

#include "v7k.h"

class QLabel;
class Mylabel;

// The device-debugging page: a test exposure on request, and per camera the trigger count beside
// the photographs taken, so a camera that does not follow the trigger stands out.
class DeviceDebugOpt : public QWidget
{
    Q_OBJECT
public:
    static DeviceDebugOpt *instance();

    struct Row
    {
        QLabel *triggerCount = nullptr;
        QLabel *statusBackground = nullptr; // the picture the photo count stands on
        QLabel *photoCount = nullptr;
        QLabel *statusIcon = nullptr;
    };

    Mylabel *shutterButton() const { return m_shutter; }
    const Row &row(int camera) const { return m_rows[camera]; } // camera 0..4 = 1..5

public slots:
    void onClicked();
    void onClickleave();
    // The counters and pictures of one status refresh.
    void refresh(const v7k_context &context);

private:
    explicit DeviceDebugOpt(QWidget *parent = nullptr);

    Mylabel *m_shutter = nullptr;
    std::array<Row, 5> m_rows{};
};
