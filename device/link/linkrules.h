#pragma once

#include <QString>

#include <cstdint>

// The link page's decisions, kept apart from its widgets and timers.
namespace LinkRules {

// What the WiFi name says about the connect attempt.
enum class Network {
    NotOnWifi,        // empty name: "未连接WIFI!"
    NotCamera,        // a name not beginning "V7": "请连接V7相机的WIFI！"
    Camera,           // the camera's network: connected, with the full connected look
    Unconfirmed,      // the name source failed but gave a name: connected flags only
};

Network classify(int status, const QString &ssid);

} // namespace LinkRules

// The 5-second heartbeat: the camera is lost when the receive counter stands still, unless a
// firmware upgrade runs or a POS transfer's byte counter still moves.
class LinkHeartbeat
{
public:
    enum class Verdict { Alive, KeptForUpgrade, KeptForTransfer, Lost, LostInTransfer };

    struct Reading
    {
        uint32_t receiveIndex = 0;
        int activity = 0;            // the POS manager's activity field; -1 without a manager
        uint32_t transferProgress = 0;
        bool upgradeWindow = false;
        int upgradeProgress = 0;
    };

    Verdict check(const Reading &reading);
    // After every heartbeat with a device: remember the counter for the next comparison.
    void remember(uint32_t receiveIndex) { m_lastReceiveIndex = int32_t(receiveIndex); }
    void reset() { m_lastReceiveIndex = -1; }

    int32_t lastReceiveIndex() const { return m_lastReceiveIndex; }
    int32_t lastTransferAmount() const { return m_lastTransferAmount; }
    int32_t lastUpgradeProgress() const { return m_lastUpgradeProgress; }

private:
    int32_t m_lastReceiveIndex = -1;
    int32_t m_lastTransferAmount = 0;
    int32_t m_lastUpgradeProgress = 0;
};
