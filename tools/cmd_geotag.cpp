// v7tool geotag: writes the positions of a POS table into photos, the n-th photo from the n-th row.
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "geotag.h"
#include "postablecheck.h"
#include "toolcommand.h"
#include "workerthread.h"

namespace {
constexpr int kThreads = 4;

const char kUsage[] = "usage: v7tool geotag --pos TABLE.xls [--focal MM] PHOTO...\n"
                      "exit 0 when every photo is tagged, 1 when one is not, 2 for bad\n"
                      "arguments or a table that is not a POS table (no photo touched)\n";

int usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

void printLine(const QJsonObject &object)
{
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
}

QJsonObject tagOne(const QString &photo, int index, const MyExcelObject &rows, int focal,
                   std::atomic<int> *failures)
{
    QJsonObject line;
    line[QStringLiteral("file")] = photo;
    if (index >= rows.posList.size()) {
        line[QStringLiteral("tagged")] = false;
        line[QStringLiteral("error")] = QStringLiteral("no POS row");
        return line;
    }
    const PosPoint &p = rows.posList.at(index);
    const GeoPosition position{p.y, p.x, p.z};
    QString error;
    const bool ok = Geotag::tagFile(photo, focal, position, &error);
    line[QStringLiteral("tagged")] = ok;
    line[QStringLiteral("latitude")] = position.latitude;
    line[QStringLiteral("longitude")] = position.longitude;
    line[QStringLiteral("altitude")] = position.altitude;
    line[QStringLiteral("error")] = error;
    if (!ok)
        ++*failures;
    return line;
}

int run(const QStringList &arguments)
{
    QString table;
    int focal = 20;
    QStringList photos;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (a == QLatin1String("--pos") && i + 1 < arguments.size()) {
            table = arguments.at(++i);
        } else if (a == QLatin1String("--focal") && i + 1 < arguments.size()) {
            bool ok = false;
            focal = arguments.at(++i).toInt(&ok);
            if (!ok || focal < 0)
                return usage();
        } else if (a.startsWith(QLatin1String("--"))) {
            return usage();
        } else {
            photos.append(a);
        }
    }
    if (table.isEmpty() || photos.isEmpty())
        return usage();

    MyExcelObject rows;
    const PosTableCheck check = PosSpreadsheet::readChecked(table, &rows);
    if (!check.accepted()) {
        std::fprintf(stderr, "v7tool geotag: refused input: %s\n",
                     qPrintable(check.message(table)));
        return 2;
    }

    // A few photos at a time: each one waits mostly for the disk to take its rewrite, and
    // several writes in flight keep the disk busier than one.
    std::vector<QJsonObject> lines(size_t(photos.size()));
    std::atomic<int> next{0};
    std::atomic<int> failures{0};
    auto worker = [&] {
        for (int i = next++; i < photos.size(); i = next++)
            lines[size_t(i)] = tagOne(photos.at(i), i, rows, focal, &failures);
    };
    const int threadCount = std::min<int>(kThreads, int(photos.size()));
    std::vector<std::thread> threads;
    for (int t = 1; t < threadCount; ++t)
        threads.push_back(WorkerThread::start("geotag", worker));
    worker();
    for (std::thread &thread : threads)
        thread.join();
    for (const QJsonObject &line : lines)
        printLine(line);
    return failures == 0 ? 0 : 1;
}

ToolCommand command("geotag", "write POS positions into photos (--pos TABLE.xls --focal MM)",
                    kUsage, &run);
} // namespace
