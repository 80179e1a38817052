// Records numbered events into the history of a file until it is killed,
// saying how many are committed: "committed <n>" after each commit.

#include "history/HistoryWriter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: history_recorder FILE RUN\n");
        return 2;
    }
    HistoryWriter writer({args[1], {}, 1000000, std::chrono::milliseconds(20)});
    QObject::connect(&writer, &HistoryWriter::committed, &app, [](quint64 total) {
        std::printf("committed %llu\n", static_cast<unsigned long long>(total));
        std::fflush(stdout);
    });
    qint64 next = 1;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &app, [&] {
        for (int n = 0; n < 20; ++n) {
            HistoryEvent e;
            e.timeMs = QDateTime::currentMSecsSinceEpoch();
            e.kind = EventKind::Power;
            e.projectorId = args[2];
            e.value = next++;
            e.text = QString(200, u'r');
            writer.record(std::move(e));
        }
    });
    timer.start(1);
    return app.exec();
}
