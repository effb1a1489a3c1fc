#include "linkrules.h"

#include "posfile.h"

namespace LinkRules {

Network classify(int status, const QString &ssid)
{
    if (ssid.isEmpty())
        return Network::NotOnWifi;
    if (status != 0)
        return Network::Unconfirmed;
    return ssid.startsWith(QLatin1String("V7")) ? Network::Camera : Network::NotCamera;
}

} // namespace LinkRules

LinkHeartbeat::Verdict LinkHeartbeat::check(const Reading &reading)
{
    if (int32_t(reading.receiveIndex) != m_lastReceiveIndex)
        return Verdict::Alive;
    if (reading.activity == POSFILE_ACTIVITY_UPGRADE) {
        if (reading.upgradeWindow)
            m_lastUpgradeProgress = reading.upgradeProgress;
        return Verdict::KeptForUpgrade;
    }
    if (reading.activity == POSFILE_ACTIVITY_TRANSFER) {
        if (int32_t(reading.transferProgress) != m_lastTransferAmount) {
            m_lastTransferAmount = int32_t(reading.transferProgress);
            return Verdict::KeptForTransfer;
        }
        // The caller zeroes the manager's counter; the next transfer starts from there.
        m_lastTransferAmount = 0;
        return Verdict::LostInTransfer;
    }
    return Verdict::Lost;
}
