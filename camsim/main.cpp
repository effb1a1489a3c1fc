// v7k-camsim: the camera on a loopback address, speaking the library's protocol, for tests,
// benchmarks and the demo.
#include "camera.h"
#include "cameraconfig.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_toggleSilence = 0;

void onStop(int)
{
    g_stop = 1;
}
void onToggle(int)
{
    g_toggleSilence = 1;
}

const char kUsage[] =
    "usage: v7k-camsim [options]\n"
    "  --listen HOST:PORT      address to answer on (default 127.0.0.1:8899; port 0 = any free)\n"
    "  --demo                  demo camera: V7K5, 14 flights, a running self-test, fixed-time "
    "trigger\n"
    "  --scenario FILE         settings as 'key = value' lines (the option names without --)\n"
    "  --model WORD            V7K5 (52-byte POS records) or V7K3 (32-byte), default V7K5\n"
    "  --serial TEXT           default: model word + 2019032801\n"
    "  --firmware M.N          default 4.41      --hardware N        default 2\n"
    "  --build-date TEXT       default 2019-03-28\n"
    "  --slots N               files in slots 1..N (0..14, default 14)\n"
    "  --records N             records in slot 1, slot s has N + 7(s-1) (default 120)\n"
    "  --seed N                flight generator seed\n"
    "  --time-mode MODE        unix, calendar, none or mixed (by slot, default)\n"
    "  --camera-state BYTE     camera state byte (default: all five good)\n"
    "  --self-test SECONDS     self-test runs this long after each start (default 0)\n"
    "  --gps 0|1  --satellites N  --landing-gear N  --speed M/S\n"
    "  --work-mode 1..6  --time-interval TENTHS_OF_S\n"
    "  --work-param HEX        the whole 24-byte work-parameter record, 48 hex digits\n"
    "  --restart-seconds S     silence while an upgrade installs (default 2)\n"
    "  --drop SHARE            lose this share (0..1) of datagrams in each direction\n"
    "  --corrupt SHARE         flip a byte in this share of sent datagrams\n"
    "  --delay MS              answer this much later\n"
    "  --silent-at S --silent-for S   go silent for a while; SIGUSR1 toggles silence\n"
    "  --status-hz N           status pushes per second (default 5)\n"
    "  --export-dir DIR        write each slot's raw POS file as slotNN.bin\n"
    "  --pos-drive DIR         the camera's POS drive: each file's raw records in\n"
    "                          DIR/VESTRANEPOS/POSNN.DAT, timed by the camera's clock (for\n"
    "                          V7_MEDIA_ROOT=DIR)\n"
    "  --quiet                 log nothing\n";

struct Delayed
{
    std::chrono::steady_clock::time_point at;
    std::vector<uint8_t> datagram;
};

bool parseAddress(const std::string &text, sockaddr_in &out)
{
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        return false;
    out = {};
    out.sin_family = AF_INET;
    const int port = std::atoi(text.c_str() + colon + 1);
    if (port < 0 || port > 65535)
        return false;
    out.sin_port = htons(uint16_t(port));
    return inet_pton(AF_INET, text.substr(0, colon).c_str(), &out.sin_addr) == 1;
}

bool exportSlots(const Camera &camera, const std::string &dir)
{
    for (size_t i = 0; i < camera.slots().size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/slot%02zu.bin", i + 1);
        std::ofstream out(dir + name, std::ios::binary);
        const auto &data = camera.slots()[i].data;
        out.write(reinterpret_cast<const char *>(data.data()), std::streamsize(data.size()));
        if (!out)
            return false;
    }
    return true;
}
// The POS store as the camera shows it over USB: a volume labelled VESTRANEPOS holding the
// files of the WiFi slots in slot order, each dated by the camera's clock.
bool writePosDrive(const Camera &camera, const std::string &dir)
{
    const std::string root = dir + "/VESTRANEPOS";
    ::mkdir(dir.c_str(), 0755);
    if (::mkdir(root.c_str(), 0755) != 0 && errno != EEXIST)
        return false;
    for (size_t i = 0; i < camera.slots().size(); ++i) {
        const PosSlot &slot = camera.slots()[i];
        if (slot.fileNumber == 0)
            continue;
        char name[32];
        std::snprintf(name, sizeof name, "/POS%02zu.DAT", i + 1);
        const std::string path = root + name;
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char *>(slot.data.data()),
                      std::streamsize(slot.data.size()));
            if (!out)
                return false;
        }
        // The camera's file system stores its clock's fields, which the PC reads as local time;
        // a file without a time gets the zero fields, read as a day of November 1999.
        tm clock = {};
        clock.tm_year = 100 + slot.time[0];
        clock.tm_mon = slot.time[1] - 1;
        clock.tm_mday = slot.time[2];
        clock.tm_hour = slot.time[3];
        clock.tm_min = slot.time[4];
        clock.tm_sec = slot.time[5];
        clock.tm_isdst = -1;
        const timespec times[2] = {{mktime(&clock), 0}, {mktime(&clock), 0}};
        if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
            return false;
    }
    return true;
}
} // namespace

int main(int argc, char **argv)
{
    CameraConfig config;
    std::string listen = "127.0.0.1:8899";
    std::string error;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg.compare(0, 2, "--") != 0) {
            std::fprintf(stderr, "v7k-camsim: unexpected argument '%s'\n%s", arg.c_str(), kUsage);
            return 2;
        }
        arg = arg.substr(2);
        std::string value;
        const size_t eq = arg.find('=');
        if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        }
        if (arg == "demo") {
            config.applyDemo();
            continue;
        }
        if (arg == "quiet") {
            config.quiet = true;
            continue;
        }
        if (eq == std::string::npos) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "v7k-camsim: --%s needs a value\n", arg.c_str());
                return 2;
            }
            value = argv[++i];
        }
        bool ok = true;
        if (arg == "listen")
            listen = value;
        else if (arg == "scenario")
            ok = config.loadScenario(value, error);
        else
            ok = config.set(arg, value, error);
        if (!ok) {
            std::fprintf(stderr, "v7k-camsim: %s\n", error.c_str());
            return 2;
        }
    }

    sockaddr_in address;
    if (!parseAddress(listen, address)) {
        std::fprintf(stderr, "v7k-camsim: --listen wants IPV4:PORT, got '%s'\n", listen.c_str());
        return 2;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        std::fprintf(stderr, "v7k-camsim: cannot listen on %s: %s\n", listen.c_str(),
                     std::strerror(errno));
        return 1;
    }

    const auto begin = std::chrono::steady_clock::now();
    auto seconds = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    };
    auto log = [&](const std::string &line) {
        if (!config.quiet)
            std::fprintf(stderr, "camsim %8.3f %s\n", seconds(), line.c_str());
    };
    Camera camera(config, log);
    if (!config.exportDir.empty() && !exportSlots(camera, config.exportDir)) {
        std::fprintf(stderr, "v7k-camsim: cannot write to %s\n", config.exportDir.c_str());
        return 1;
    }
    if (!config.posDriveDir.empty() && !writePosDrive(camera, config.posDriveDir)) {
        std::fprintf(stderr, "v7k-camsim: cannot write the POS drive under %s\n",
                     config.posDriveDir.c_str());
        return 1;
    }

    std::signal(SIGINT, onStop);
    std::signal(SIGTERM, onStop);
    std::signal(SIGUSR1, onToggle);
    char host[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, host, sizeof host);
    std::printf("listening on %s:%u\n", host, unsigned(ntohs(address.sin_port)));
    std::fflush(stdout);
    log(config.effectiveSerial() + " firmware " + std::to_string(config.firmwareMajor) + "." +
        std::to_string(config.firmwareMinor) + ", " + std::to_string(config.slots) + " POS files");

    std::mt19937 random(config.seed);
    std::uniform_real_distribution<double> share(0.0, 1.0);
    sockaddr_in peer = {};
    bool havePeer = false;
    bool silencedBySignal = false;
    bool wasSilent = false;
    std::vector<Delayed> delayed;
    double nextPush = 0;
    std::vector<uint8_t> buffer(65536);

    auto sendTo = [&](std::vector<uint8_t> datagram) {
        if (!havePeer || share(random) < config.dropShare)
            return;
        if (!datagram.empty() && share(random) < config.corruptShare)
            datagram[size_t(random()) % datagram.size()] ^= uint8_t(1u << (random() % 8));
        ::sendto(fd, datagram.data(), datagram.size(), MSG_DONTWAIT,
                 reinterpret_cast<sockaddr *>(&peer), sizeof peer);
    };

    while (!g_stop) {
        if (g_toggleSilence) {
            g_toggleSilence = 0;
            silencedBySignal = !silencedBySignal;
            log(silencedBySignal ? "silent (signal)" : "speaking again (signal)");
            std::printf(silencedBySignal ? "silent\n" : "speaking\n");
            std::fflush(stdout);
        }
        const double now = seconds();
        const bool scheduledSilence = config.silentAt >= 0 && now >= config.silentAt &&
                                      now < config.silentAt + config.silentFor;
        const bool silent = silencedBySignal || scheduledSilence || camera.restarting(now);
        if (silent != wasSilent && !silencedBySignal)
            log(silent ? "silent" : "speaking again");
        wasSilent = silent;
        camera.tick(now);

        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 5) > 0 && (pfd.revents & POLLIN)) {
            for (;;) {
                sockaddr_in from = {};
                socklen_t fromLength = sizeof from;
                const ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                             reinterpret_cast<sockaddr *>(&from), &fromLength);
                if (n < 0)
                    break;
                if (silent || share(random) < config.dropShare)
                    continue;
                vived::Frame frame;
                const vived::DecodeResult result =
                    vived::decodeFrame(buffer.data(), size_t(n), frame);
                if (result != vived::DecodeResult::Ok) {
                    log(std::string("dropped datagram: ") + vived::decodeResultName(result));
                    continue;
                }
                peer = from;
                havePeer = true;
                std::vector<uint8_t> reply = camera.handle(frame, seconds());
                if (reply.empty())
                    continue;
                if (config.delayMs > 0)
                    delayed.push_back({std::chrono::steady_clock::now() +
                                           std::chrono::milliseconds(config.delayMs),
                                       std::move(reply)});
                else
                    sendTo(std::move(reply));
            }
        }
        const auto nowPoint = std::chrono::steady_clock::now();
        for (auto it = delayed.begin(); it != delayed.end();) {
            if (it->at <= nowPoint) {
                if (!silent)
                    sendTo(std::move(it->datagram));
                it = delayed.erase(it);
            } else {
                ++it;
            }
        }
        if (!silent && now >= nextPush) {
            sendTo(camera.statusFrame());
            nextPush = now + 1.0 / config.statusHz;
        }
    }
    log("stopped");
    ::close(fd);
    return 0;
}
