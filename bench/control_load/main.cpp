// Control requests through the endpoint at a steady rate (100 a second by
// default, for 60 s) while 256 simulated projectors are polled pass after
// pass: the answers per kind and status, the polling pace (passes a second)
// before and under the load, the longest event-loop stall of each, and the
// resident memory before and after. The requests come from this program run
// as a second process (--client), so they do not share its event loop.

#include "BenchKit.h"
#include "LoadClient.h"
#include "ProcessStats.h"

#include "comm/CommEngine.h"
#include "status/ApiTokens.h"
#include "status/StatusServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QProcess>

#include <cstdio>

using namespace std::chrono_literals;

namespace {

void PrintPace(const char* what, const Pace& pace) {
    std::printf("%s: %d passes in %.1f s (%.2f passes/s), longest event-loop stall %.1f ms\n", what,
                pace.passes(), pace.seconds, double(pace.passes()) / pace.seconds,
                pace.longestStallMs);
}

int RunClient(quint16 port, int tokens, int rate, int seconds) {
    LoadClient client(port, tokens, rate, seconds);
    QObject::connect(&client, &LoadClient::finished, qApp, &QCoreApplication::quit);
    client.start();
    QCoreApplication::exec();
    std::printf("%s", qPrintable(client.report()));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Control requests at a steady rate while simulated projectors are polled."));
    parser.addHelpOption();
    const QCommandLineOption projectorsOption =
        NumberOption({QStringLiteral("projectors")}, QStringLiteral("Projectors"), 256);
    const QCommandLineOption secondsOption =
        NumberOption({QStringLiteral("seconds")}, QStringLiteral("Seconds of load"), 60);
    const QCommandLineOption rateOption =
        NumberOption({QStringLiteral("rate")}, QStringLiteral("Requests a second"), 100);
    const QCommandLineOption baselineOption = NumberOption(
        {QStringLiteral("baseline")}, QStringLiteral("Seconds of polling without load"), 20);
    const QCommandLineOption clientOption(
        QStringLiteral("client"), QStringLiteral("Be the client of the endpoint on this port."),
        QStringLiteral("port"));
    parser.addOptions({projectorsOption, secondsOption, rateOption, baselineOption, clientOption});
    parser.process(app);
    const int count = NumberValue(parser, projectorsOption, 1, MaxProjectors);
    const int seconds = NumberValue(parser, secondsOption, 1);
    const int rate = NumberValue(parser, rateOption, 1, 1000);
    const int baseline = NumberValue(parser, baselineOption, 1);
    // Five a second per token: well inside the endpoint's limit of ten.
    const int tokens = std::max(1, (rate + 4) / 5);
    if (parser.isSet(clientOption))
        return RunClient(quint16(parser.value(clientOption).toUInt()), tokens, rate, seconds);

    BenchFleet fleet(count, 16);
    if (!fleet.problem().isEmpty())
        return Failed("control_load", fleet.problem());
    ProgramCore& core = fleet.core();
    QByteArray lines;
    for (int n = 1; n <= tokens; ++n)
        lines += TokenLine(
            {QStringLiteral("load%1").arg(n), TokenScope::Control, {}, TokenHash(LoadToken(n))});
    QString error;
    if (!WriteTokenFile(ApiTokensFilePath(core.session().store().filePath()), lines, &error))
        return Failed("control_load", error);
    const quint16 port = FreeLocalPort();
    core.startStatusEndpoint(QStringLiteral("127.0.0.1"), port);
    if (!core.statusServer() || !core.statusServer()->isListening())
        return Failed("control_load", QStringLiteral("the endpoint does not listen"));
    if (!RunPass(core.engine(), fleet.state(), 120s))
        return Failed("control_load", QStringLiteral("the first pass did not end"));
    Pause(1s);
    const long rssBefore = residentKiB();
    const Pace idle = PollWhile(fleet, [&](qint64 ms) { return ms < qint64(baseline) * 1000; });

    QProcess client;
    StartSelf(client,
              {QStringLiteral("--client"), QString::number(port), QStringLiteral("--seconds"),
               QString::number(seconds), QStringLiteral("--rate"), QString::number(rate)});
    const Pace loaded =
        PollWhile(fleet, [&](qint64) { return client.state() != QProcess::NotRunning; });
    Pause(1s);
    const long rssAfter = residentKiB();

    std::printf("projectors %d, %d requests a second for %d s over %d tokens\n", count, rate,
                seconds, tokens);
    std::printf("%s", client.readAllStandardOutput().constData());
    PrintPace("without load", idle);
    PrintPace("under load", loaded);
    std::printf("resident memory: %.1f MiB before, %.1f MiB after\n", double(rssBefore) / 1024.0,
                double(rssAfter) / 1024.0);
    return client.exitStatus() == QProcess::NormalExit && client.exitCode() == 0 ? 0 : 1;
}
