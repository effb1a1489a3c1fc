#pragma once

#include <QString>

#include <array>
#include <optional>

#include "v7k.h"

// What one 500 ms refresh of the status panel shows, decided from the device context alone so
// that the rules can be checked without widgets.
struct StatusView
{
    enum class Icon { Unchanged, Good, Fault };

    // The five camera icon labels, in the panel's order of cameras 1..5 under current firmware:
    // label_13, label_17, label_15, label_14, label_16.
    enum Slot { Label13, Label17, Label15, Label14, Label16, SlotCount };

    QString strategyText;
    QString strategyCaption;
    std::array<Icon, SlotCount> icons{};
    QString photoCount;
    QString satellites;
    std::optional<QString> gpsText;
    std::optional<QString> faultText;

    // For the shutter-test page: trigger count, photos per camera, camera in order per camera.
    quint32 triggerCount = 0;
    std::array<quint16, 5> cameraPhotos{};
    std::array<bool, 5> cameraGood{};
};

// The decisions of the main window's tick.
class StatusTick
{
public:
    // Current firmware generation: major 4, minor 41 or later; the state bits then mean "good".
    static bool isCurrentGeneration(const v7k_context &context);

    static StatusView evaluate(const v7k_context &context);

    static QString strategyText(const v7k_context &context);
    static QString cameraList(quint8 state, bool listSetBits);
};
