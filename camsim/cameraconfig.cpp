#include "cameraconfig.h"

#include "protocol.h"

#include <cstdlib>
#include <fstream>

namespace {
bool toNumber(const std::string &text, double &out)
{
    char *end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == 0;
}

std::string trim(const std::string &s)
{
    const size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos)
        return {};
    const size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}
} // namespace

int CameraConfig::recordSize() const
{
    // The library's rule, so that the simulated camera writes what the program expects of it.
    const int size = v7k_pos_record_size(model.c_str());
    return size == 52 ? 52 : 32;
}

void CameraConfig::applyDemo()
{
    model = "V7K5";
    slots = 14;
    selfTestSeconds = 4;
    landingGear = 1;
    satellites = 14;
    workParam.mode = 2;
    workParam.activation = 1;
    workParam.timeInterval = 20;
    workParam.distanceInterval = 500;
}

bool CameraConfig::set(const std::string &key, const std::string &value, std::string &error)
{
    double n = 0;
    const bool numeric = toNumber(value, n);
    auto need = [&](double lo, double hi) {
        if (!numeric || n < lo || n > hi) {
            error = key + ": expected a number from " + std::to_string(lo) + " to " +
                    std::to_string(hi) + ", got '" + value + "'";
            return false;
        }
        return true;
    };
    if (key == "model") {
        if (value.size() < 2 || value.size() > 8 || value.compare(0, 2, "V7") != 0) {
            error = "model: must begin with V7 and be at most 8 characters";
            return false;
        }
        model = value;
    } else if (key == "serial") {
        if (value.size() > 15) {
            error = "serial: at most 15 characters";
            return false;
        }
        serial = value;
    } else if (key == "firmware") {
        const size_t dot = value.find('.');
        double major = 0, minor = 0;
        if (dot == std::string::npos || !toNumber(value.substr(0, dot), major) ||
            !toNumber(value.substr(dot + 1), minor) || major < 0 || major > 255 || minor < 0 ||
            minor > 255) {
            error = "firmware: expected major.minor, for example 4.41";
            return false;
        }
        firmwareMajor = uint8_t(major);
        firmwareMinor = uint8_t(minor);
    } else if (key == "hardware") {
        if (!need(0, 255))
            return false;
        hardware = uint8_t(n);
    } else if (key == "build-date") {
        if (value.size() > 20) {
            error = "build-date: at most 20 characters";
            return false;
        }
        buildDate = value;
    } else if (key == "slots") {
        if (!need(0, 14))
            return false;
        slots = int(n);
    } else if (key == "records") {
        if (!need(0, 200000))
            return false;
        records = int(n);
    } else if (key == "seed") {
        if (!need(0, 4294967295.0))
            return false;
        seed = uint32_t(n);
    } else if (key == "time-mode") {
        if (value != "unix" && value != "calendar" && value != "none" && value != "mixed") {
            error = "time-mode: unix, calendar, none or mixed";
            return false;
        }
        timeMode = value;
    } else if (key == "camera-state") {
        char *end = nullptr;
        const long v = std::strtol(value.c_str(), &end, 0);
        if (value.empty() || *end || v < 0 || v > 255) {
            error = "camera-state: a byte, for example 0x1b";
            return false;
        }
        cameraState = int(v);
    } else if (key == "self-test") {
        if (!need(0, 3600))
            return false;
        selfTestSeconds = n;
    } else if (key == "gps") {
        if (!need(0, 1))
            return false;
        gps = n != 0;
    } else if (key == "satellites") {
        if (!need(0, 64))
            return false;
        satellites = int(n);
    } else if (key == "landing-gear") {
        if (!need(0, 65535))
            return false;
        landingGear = int(n);
    } else if (key == "speed") {
        if (!need(0, 200))
            return false;
        speed = n;
    } else if (key == "restart-seconds") {
        if (!need(0, 600))
            return false;
        restartSeconds = n;
    } else if (key == "work-mode") {
        if (!need(1, 6))
            return false;
        workParam.mode = uint8_t(n);
    } else if (key == "time-interval") {
        if (!need(0, 65535))
            return false;
        workParam.timeInterval = uint16_t(n);
    } else if (key == "work-param") {
        // The whole record, bytes the program never writes included.
        uint8_t bytes[24];
        if (value.size() != 2 * sizeof bytes ||
            value.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            error = "work-param: 48 hex digits, the 24 bytes of the record";
            return false;
        }
        for (size_t i = 0; i < sizeof bytes; ++i)
            bytes[i] = uint8_t(std::strtoul(value.substr(2 * i, 2).c_str(), nullptr, 16));
        workParam = vived::getWorkParam(bytes);
    } else if (key == "drop") {
        if (!need(0, 1))
            return false;
        dropShare = n;
    } else if (key == "corrupt") {
        if (!need(0, 1))
            return false;
        corruptShare = n;
    } else if (key == "delay") {
        if (!need(0, 60000))
            return false;
        delayMs = int(n);
    } else if (key == "silent-at") {
        if (!need(0, 86400))
            return false;
        silentAt = n;
    } else if (key == "silent-for") {
        if (!need(0, 86400))
            return false;
        silentFor = n;
    } else if (key == "status-hz") {
        if (!need(1, 50))
            return false;
        statusHz = int(n);
    } else if (key == "export-dir") {
        exportDir = value;
    } else if (key == "pos-drive") {
        posDriveDir = value;
    } else {
        error = "unknown setting '" + key + "'";
        return false;
    }
    return true;
}

bool CameraConfig::loadScenario(const std::string &path, std::string &error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot read scenario " + path;
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        line = trim(line.substr(0, line.find('#')));
        if (line.empty())
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            error = path + ":" + std::to_string(number) + ": expected key = value";
            return false;
        }
        if (trim(line.substr(0, eq)) == "demo") {
            applyDemo();
            continue;
        }
        if (!set(trim(line.substr(0, eq)), trim(line.substr(eq + 1)), error)) {
            error = path + ":" + std::to_string(number) + ": " + error;
            return false;
        }
    }
    return true;
}
