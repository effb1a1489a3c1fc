// v7tool pos: the POS download for scripts, right after landing, with the page's own code: the
// tables of a raw file, the camera's slot listing and the download of chosen slots over WiFi.
#include "toolcommand.h"

#include "poslinkport.h"
#include "posrawtables.h"
#include "posslotrow.h"
#include "poswifitransfer.h"
#include "v7k.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
const char kCameraAddress[] = "192.168.123.123";
const int kCameraPort = 8899;
// The tool steps the transfer faster than the page's 500 ms: it has nothing else to show.
const int kStepMs = 50;

const char kUsage[] =
    "usage: v7tool pos decode --record-size 32|52 RAWFILE [--per-lens] -o TABLE.xls\n"
    "       v7tool pos list [--json] [--timeout S]\n"
    "       v7tool pos download SLOT... -o PATH [--per-lens] [--timeout S]\n"
    "  decode    writes the tables of a raw POS file (with --per-lens also the five lens\n"
    "            tables beside TABLE.xls; 52-byte records only)\n"
    "  list      the camera's 14 slots: number, time, points, times downloaded\n"
    "  download  the slots (1..14) into PATH, or with several into PATH up to its first\n"
    "            '.' followed by slot number and .xls, as the page names them\n"
    "  --timeout the camera's silence that ends the command (default 20 s)\n"
    "  The camera is reached at V7_CAMERA_ADDRESS=host:port when set.\n"
    "  Exit 0 when every table is complete, 1 on failure, 2 on bad arguments, 3 when\n"
    "  another program (the window) holds the camera.\n";

int usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

// The library's handles, opened by the tool itself.
class ToolLink : public PosLinkPort
{
public:
    ~ToolLink() override
    {
        if (m_tele) {
            aktele_stop(m_tele);
            aktele_free(m_tele);
        }
        if (m_device)
            v7k_free(m_device);
        aktele_module_exit();
    }

    // Opens the link and waits until the camera has told its firmware version and model.
    bool open(int timeoutMs)
    {
        aktele_module_init();
        m_tele = aktele_alloc(AKTELE_KIND_UDP, kCameraAddress, kCameraPort, 4096);
        m_device = m_tele ? v7k_alloc(m_tele) : nullptr;
        if (!m_device) {
            std::fprintf(stderr, "v7tool pos: cannot open the camera link\n");
            return false;
        }
        aktele_start(m_tele);
        QElapsedTimer clock;
        clock.start();
        while (m_device->firmwareMajor == 0 || m_device->serial[0] == 0) {
            if (clock.elapsed() > timeoutMs) {
                std::fprintf(stderr, "v7tool pos: the camera did not answer within %d s\n",
                             timeoutMs / 1000);
                return false;
            }
            v7k_get_version(m_device);
            QThread::msleep(100);
        }
        m_manager = posfile_manager_init(m_device->posfileArg);
        return m_manager != nullptr;
    }

    bool connected() const override { return m_device != nullptr; }
    PosFileManager *manager() const override { return m_manager; }
    int newPosData() const override
    {
        return m_device
                   ? int(__atomic_load_n(&m_device->state, __ATOMIC_ACQUIRE) & V7K_STATE_NEW_POS)
                   : -1;
    }
    int clearNewPosData() override
    {
        return m_device ? v7k_clear_state(m_device, V7K_STATE_NEW_POS) : -1;
    }
    QString firmwareVersionText() const override
    {
        return QStringLiteral("%1.%2").arg(m_device->firmwareMajor).arg(m_device->firmwareMinor);
    }
    int posRecordSize() const override { return v7k_pos_record_size(m_device->serial); }

private:
    AkTele *m_tele = nullptr;
    v7k_context *m_device = nullptr;
    PosFileManager *m_manager = nullptr;
};

struct Options
{
    QStringList positional;
    QString output;
    int recordSize = 0;
    bool perLens = false;
    bool json = false;
    int timeoutMs = 20000;
};

bool parse(const QStringList &arguments, Options &o)
{
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (a == QLatin1String("--per-lens")) {
            o.perLens = true;
        } else if (a == QLatin1String("--json")) {
            o.json = true;
        } else if (a == QLatin1String("-o") && hasValue) {
            o.output = arguments[++i];
        } else if (a == QLatin1String("--record-size") && hasValue) {
            o.recordSize = arguments[++i].toInt();
        } else if (a == QLatin1String("--timeout") && hasValue) {
            bool ok = false;
            o.timeoutMs = arguments[++i].toInt(&ok) * 1000;
            if (!ok || o.timeoutMs <= 0)
                return false;
        } else if (a.startsWith(QLatin1Char('-'))) {
            return false;
        } else {
            o.positional.append(a);
        }
    }
    return true;
}

int decode(const Options &o)
{
    if (o.positional.size() != 1 || o.output.isEmpty() ||
        (o.recordSize != 32 && o.recordSize != 52))
        return usage();
    if (o.perLens && o.recordSize != 52) {
        std::fprintf(stderr, "v7tool pos: lens tables need 52-byte records\n");
        return 2;
    }
    const PosRawTables::Result r =
        PosRawTables::write(o.positional.first(), o.recordSize, o.output, o.perLens);
    if (!r.ok) {
        std::fprintf(stderr, "v7tool pos: %s\n", qPrintable(r.error));
        return 1;
    }
    std::fprintf(stderr, "%lld records written to %s\n", r.records, qPrintable(o.output));
    if (r.leftover > 0)
        std::fprintf(stderr, "%lld bytes after the last whole record were left over\n", r.leftover);
    if (!r.lensError.isEmpty()) {
        std::fprintf(stderr, "v7tool pos: no lens tables written: %s\n", qPrintable(r.lensError));
        return 1;
    }
    return 0;
}

// Steps the listing until it has all fourteen slots, or the camera stays silent too long.
bool listSlots(PosWifiTransfer &transfer, int timeoutMs)
{
    transfer.zeroManagerCache();
    transfer.startRefresh();
    QElapsedTimer quiet;
    quiet.start();
    int listed = 0;
    while (transfer.refreshing()) {
        transfer.step();
        if (transfer.listing().size() != listed) {
            listed = int(transfer.listing().size());
            quiet.restart();
        } else if (quiet.elapsed() > timeoutMs) {
            break;
        }
        QThread::msleep(kStepMs);
    }
    if (transfer.listingComplete())
        return true;
    std::fprintf(stderr, "v7tool pos: the listing stopped at %d of 14 slots (camera silent)\n",
                 int(transfer.listing().size()));
    return false;
}

int list(const Options &o)
{
    if (!o.positional.isEmpty() || !o.output.isEmpty())
        return usage();
    ToolLink link;
    PosWifiTransfer transfer(&link);
    if (!link.open(o.timeoutMs) || !listSlots(transfer, o.timeoutMs))
        return 1;
    QJsonArray rows;
    for (int i = 0; i < transfer.listing().size(); ++i) {
        const PosSlotRow row = transfer.row(i);
        if (o.json) {
            rows.append(QJsonObject{{"slot", row.number},
                                    {"time", row.timeText},
                                    {"points", row.points},
                                    {"downloads", row.downloads}});
        } else {
            // A slot without a time keeps its column: scripts split the lines on blanks.
            std::printf("%2d  %-19s  %8lld  %d\n", row.number,
                        qPrintable(row.timeText.isEmpty() ? QStringLiteral("-") : row.timeText),
                        row.points, row.downloads);
        }
    }
    if (o.json)
        std::printf("%s", QJsonDocument(rows).toJson(QJsonDocument::Indented).constData());
    return 0;
}

int download(const Options &o)
{
    QList<int> rows;
    for (const QString &slot : o.positional) {
        bool ok = false;
        const int number = slot.toInt(&ok);
        if (!ok || number < 1 || number > PosWifiTransfer::kSlotCount)
            return usage();
        rows.append(number - 1);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (rows.isEmpty() || o.output.isEmpty())
        return usage();

    ToolLink link;
    PosWifiTransfer transfer(&link);
    if (!link.open(o.timeoutMs) || !listSlots(transfer, o.timeoutMs))
        return 1;
    if (o.perLens && link.posRecordSize() != 52)
        std::fprintf(stderr, "v7tool pos: this camera's records carry no lens offsets; "
                             "writing the main tables only\n");
    else if (o.perLens && posFirmwareRange(link.firmwareVersionText()) == PosFirmwareRange::Plain)
        std::fprintf(stderr, "v7tool pos: firmware %s sends no lens offsets; writing the main "
                             "tables only\n",
                     qPrintable(link.firmwareVersionText()));
    transfer.setIndependentPos(o.perLens);
    bool succeeded = false;
    QString failedPath;
    QObject::connect(&transfer, &PosWifiTransfer::fileFinished, [](int, const QString &path) {
        std::printf("%s\n", qPrintable(path));
        std::fflush(stdout);
    });
    QObject::connect(&transfer, &PosWifiTransfer::downloadSucceeded, [&] { succeeded = true; });
    QObject::connect(&transfer, &PosWifiTransfer::downloadFailed,
                     [&](const QString &path) { failedPath = path; });
    if (!transfer.startDownload(rows, o.output))
        return 1;

    QElapsedTimer quiet;
    quiet.start();
    qint64 seen = -1;
    while (transfer.downloading()) {
        transfer.step();
        // Progress is the file being fetched and its bytes; a camera that stops answering
        // stops both.
        const qint64 now =
            qint64(transfer.selectionCursor()) << 32 | posfile_process(link.manager());
        if (now != seen) {
            seen = now;
            quiet.restart();
        } else if (quiet.elapsed() > o.timeoutMs) {
            const QString partial = transfer.outputPath(transfer.selectionCursor());
            transfer.requestCancel();
            transfer.step();
            std::fprintf(stderr,
                         "v7tool pos: the camera stopped answering; the download was cancelled "
                         "and %s keeps what arrived\n",
                         qPrintable(partial));
            return 1;
        }
        QThread::msleep(kStepMs);
    }
    if (!failedPath.isEmpty()) {
        std::fprintf(stderr, "v7tool pos: cannot write %s\n", qPrintable(failedPath));
        return 1;
    }
    return succeeded ? 0 : 1;
}

int run(const QStringList &arguments)
{
    // The page's console lines would mix with what a script reads.
    QLoggingCategory::setFilterRules(QStringLiteral("v7.pos.info=false"));
    Options o;
    if (arguments.isEmpty() || !parse(arguments.mid(1), o))
        return usage();
    const QString &what = arguments.first();
    if (what == QLatin1String("decode"))
        return decode(o);
    if (what == QLatin1String("list"))
        return list(o);
    if (what == QLatin1String("download"))
        return download(o);
    return usage();
}

} // namespace

static ToolCommand command("pos", "POS tables: decode a raw file, list or download over WiFi",
                           kUsage, &run, [](const QStringList &arguments) {
                               return !arguments.isEmpty() &&
                                      (arguments.first() == QLatin1String("list") ||
                                       arguments.first() == QLatin1String("download"));
                           });
