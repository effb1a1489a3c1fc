#pragma once

#include <QString>

// The name (SSID) of the WiFi network the PC is on. Status 0 means the name was learnt (it may
// then still be empty: not on WiFi); any other status means no source could tell.
namespace WifiName {

struct Result
{
    int status = -1;
    QString ssid;
};

// V7_WIFI_SSID when set (the demo and the tests), else NetworkManager over the system D-Bus,
// else `iwgetid -r`.
Result query();

// The NetworkManager backend alone: the primary connection, else the first active WiFi
// connection, and the Ssid of its access point.
Result fromNetworkManager();

// The wireless-tools backend alone.
Result fromIwgetid();

} // namespace WifiName
