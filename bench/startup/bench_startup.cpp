// Time from process start to the main window's first paint, median of N runs, against a bare
// Qt window of the same size as the peer: the difference is what the program adds.
#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

long long monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// One run: ms from just before the process is started to the first paint it reports.
double oneRun(const QString &program, const QProcessEnvironment &env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProgram(program);
    const long long started = monotonicNs();
    process.start();
    if (!process.waitForFinished(30000))
        return -1;
    const QByteArray out = process.readAllStandardOutput();
    const int at = out.indexOf("first-paint ");
    if (at < 0)
        return -1;
    const long long painted = out.mid(at + 12).trimmed().split('\n').first().toLongLong();
    return (painted - started) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = qEnvironmentVariableIntValue("V7_BENCH_RUNS") > 0
                         ? qEnvironmentVariableIntValue("V7_BENCH_RUNS")
                         : 10;
    QTemporaryDir state;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("V7_STARTUP_PROBE"), QStringLiteral("1"));
    env.insert(QStringLiteral("V7_STATE_DIR"), state.path());
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    const QString dir = QCoreApplication::applicationDirPath();
    struct Subject { const char *name; QString program; std::vector<double> ms; };
    Subject subjects[] = {{"V7KAPP", dir + QStringLiteral("/V7KAPP"), {}},
                          {"bare Qt window", dir + QStringLiteral("/bench_startup_peer"), {}}};
    for (int i = 0; i < runs; ++i) {
        for (Subject &s : subjects) {
            const double ms = oneRun(s.program, env);
            if (ms < 0) {
                std::fprintf(stderr, "bench_startup: %s did not report its first paint\n", s.name);
                return 1;
            }
            s.ms.push_back(ms);
        }
    }
    const double ours = median(subjects[0].ms);
    const double peer = median(subjects[1].ms);
    std::printf("startup to first paint, median of %d runs (platform %s):\n", runs,
                qPrintable(env.value(QStringLiteral("QT_QPA_PLATFORM"))));
    std::printf("  V7KAPP          %8.1f ms  (min %.1f, max %.1f)\n", ours,
                *std::min_element(subjects[0].ms.begin(), subjects[0].ms.end()),
                *std::max_element(subjects[0].ms.begin(), subjects[0].ms.end()));
    std::printf("  bare Qt window  %8.1f ms\n", peer);
    std::printf("  ratio V7KAPP / bare Qt: %.2f   target: V7KAPP under 300 ms: %s\n", ours / peer,
                ours < 300 ? "met" : "NOT met");
    return 0;
}
