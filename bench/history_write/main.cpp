// history_write [EVENTS] [FOLDER]: records EVENTS (default 1,000,000) events
// of 256 projectors through the writer, as the event loop would, and
// prints the figures.

#include "history/HistoryWriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const qint64 total = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    QTemporaryDir temp;
    const QString folder = argc > 2 ? QString::fromLocal8Bit(argv[2]) : temp.path();
    const QString path = folder + QStringLiteral("/History.sqlite");
    constexpr int Projectors = 256;
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - 365LL * 24 * 3600 * 1000;

    QElapsedTimer clock;
    clock.start();
    qint64 longestRecord = 0;
    {
        HistoryWriter writer({path, {400, 4096}, 1000000});
        const EventKind kinds[] = {EventKind::Power, EventKind::Input, EventKind::Error,
                                   EventKind::Command, EventKind::Hours};
        // One pass: every projector changes state; the loop's share is
        // record() only.
        for (qint64 n = 0; n < total; n += Projectors) {
            QElapsedTimer pass;
            pass.start();
            for (int p = 0; p < Projectors && n + p < total; ++p) {
                HistoryEvent e;
                e.timeMs = start + (n + p) * 30;
                e.kind = kinds[(n / Projectors + p) % 5];
                e.projectorId =
                    QStringLiteral("6f1c2a3e-0000-4000-8000-%1").arg(p, 12, 10, QChar(u'0'));
                e.projectorName = QStringLiteral("Room %1").arg(p);
                e.groupName = QStringLiteral("Building %1").arg(p / 32);
                e.value = (n / Projectors) % 3;
                e.text = e.kind == EventKind::Error ? QStringLiteral("Lamp Error") : QString();
                writer.record(std::move(e));
            }
            longestRecord = std::max(longestRecord, pass.nsecsElapsed());
            // Keeps the queue under its bound, as passes seconds apart would.
            while (writer.pendingCount() > 500000)
                QThread::msleep(5);
        }
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    const qint64 bytes = QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();

    EventStore reader(path, EventStore::Mode::Read);
    reader.open();
    QElapsedTimer firstPage;
    firstPage.start();
    const EventPage page = reader.page({}, std::nullopt, 100);
    const double pageMs = firstPage.nsecsElapsed() / 1e6;
    firstPage.restart();
    const EventPage kindPage =
        reader.page({{EventKind::Error}, {}, {}, {}, QStringLiteral("lamp")}, std::nullopt, 100);
    const double filteredMs = firstPage.nsecsElapsed() / 1e6;

    std::printf("events            %lld\n", static_cast<long long>(reader.count()));
    std::printf("events per second %.0f (recorded and committed)\n", total / seconds);
    std::printf("longest record()  %.3f ms for one pass of %d projectors\n", longestRecord / 1e6,
                Projectors);
    std::printf(
        "first page        %.2f ms (%zu rows); filtered by kind and text %.2f ms (%zu rows)\n",
        pageMs, page.events.size(), filteredMs, kindPage.events.size());
    std::printf("file size         %.1f MiB, %.1f MiB per million events\n", bytes / 1048576.0,
                bytes / 1048576.0 * 1e6 / std::max<qint64>(1, total));
    return 0;
}
