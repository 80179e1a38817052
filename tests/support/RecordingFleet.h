#pragma once

// The whole program core on a temporary program folder with simulated
// projectors: group "Hall" holds projectors 1..own of the own protocol
// (model MX-1: inputs 0;RGB and 5;HDMI) and then `pjlink` PJLink ones. The
// history is the program's own file; events() reads it back.

#include "support/CommTestKit.h"
#include "support/ProjectorRecords.h"
#include "support/TestHome.h"
#include "support/SimProcess.h"
#include "support/TestHome.h"

#include "comm/CommEngine.h"
#include "comm/CommandQueue.h"
#include "core/Fleet.h"
#include "history/EventStore.h"
#include "history/HistoryWriter.h"
#include "program/ProgramCore.h"

#include <QTest>

#include <algorithm>
#include <memory>

using namespace std::chrono_literals;

inline constexpr int FleetWait = 30000; // generous: a loaded machine must not fail these

class RecordingFleet {
    // Made first and gone last: the folder outlives the program on it.
    std::unique_ptr<TestHome> m_home;
    QTemporaryDir m_tools;
    std::unique_ptr<SimProcess> m_sim;
    bool m_ready = false;

  public:
    // home: where NORVIK3_HOME points (a fresh temporary folder by default).
    explicit RecordingFleet(int own, int pjlink, const QString& home = {},
                            EventSource program = EventSource::Window) {
        if (home.isEmpty()) {
            m_home = std::make_unique<TestHome>();
        } else {
            qputenv("NORVIK3_HOME", home.toUtf8());
        }
        m_sim = std::make_unique<SimProcess>(QStringList{
            QStringLiteral("--tcp"), QString::number(own), QStringLiteral("--pjlink"),
            QString::number(pjlink), QStringLiteral("--warmup-ms"), QStringLiteral("100"),
            QStringLiteral("--cooldown-ms"), QStringLiteral("100")});
        if (!m_sim->isReady())
            return;
        core.setProgramSource(program);
        if (!core.start({}))
            return;
        AppState& s = state();
        s.Timing.TcpTimeoutTime = 400;
        s.Timing.StatusCheckInterval = 3600;
        s.Timing.PJLinkSessionGap = 50;
        s.ModelCount = 1;
        s.Models[1].Name = QStringLiteral("MX-1");
        s.Models[1].InputNum = 2;
        s.Models[1].Input[1] = QStringLiteral("0;RGB");
        s.Models[1].Input[2] = QStringLiteral("5;HDMI");
        ResetTree(s);
        s.ProjectorCount = 0;
        hall = AddGroupNode(s, QStringLiteral("Hall"), nullptr);
        const QString local = QStringLiteral("127.0.0.1");
        for (int p = 1; p <= own + pjlink; ++p) {
            const QString name = QStringLiteral("PJ%1").arg(p);
            AddProjector(s, hall,
                         (p > own
                              ? PJLinkProjector(name, local, QString::number(m_sim->pjlinkPort(p)))
                              : LanProjector(name, local, QString::number(m_sim->tcpPort(p))))
                             .model(QStringLiteral("MX-1")));
        }
        s.PJLinkPassword = [this](int p) { return passwords.value(p); };
        // A ping that never answers: contact is decided by the replies.
        core.engine().setToolPrograms(MakePingScript(m_tools, "hang"), QStringLiteral("true"),
                                      120s);
        core.startCommunication();
        m_ready = true;
    }

    ~RecordingFleet() {
        core.shutdown();
        if (!m_home)
            qunsetenv("NORVIK3_HOME");
    }

    bool isReady() const { return m_ready; }
    QString problem() const {
        return !m_sim->isReady() ? m_sim->errorString() : core.session().problem();
    }
    AppState& state() { return core.state(); }
    QString folder() const { return qEnvironmentVariable("NORVIK3_HOME"); }
    QString historyFile() const { return folder() + QStringLiteral("/History.sqlite"); }
    QString idOf(int projector) { return state().Projectors[std::size_t(projector)].ProjectorId; }

    void control(const QString& line) {
        QCOMPARE(m_sim->command(line).left(2), QStringLiteral("OK"));
    }

    // One polling pass, waited for until every queue is empty again.
    [[nodiscard]] bool pass() {
        AppState& s = state();
        // A pinned clock moves on, so the pass's end differs from the last.
        if (s.clock.isSet())
            s.clock.advance(1000);
        const QDateTime before = s.Polling.LastPassEnd;
        s.LastStatusCheck = QDateTime();
        core.engine().startPolling(1);
        const bool done =
            QTest::qWaitFor([&] { return s.Polling.LastPassEnd != before; }, FleetWait) && idle();
        core.engine().stopPolling();
        return done;
    }

    [[nodiscard]] bool idle() {
        AppState& s = state();
        return QTest::qWaitFor(
            [&] {
                for (int p = 1; p <= s.ProjectorCount; ++p)
                    if (!IsQueueEmpty(s, p))
                        return false;
                return true;
            },
            FleetWait);
    }

    // Waits until everything recorded so far is in the file: the queue is
    // empty and no batch taken from it is still being written.
    [[nodiscard]] bool settle() {
        HistoryWriter* writer = core.history();
        if (!writer)
            return false;
        for (int round = 0; round < 30; ++round) {
            if (!QTest::qWaitFor([&] { return writer->pendingCount() == 0; }, FleetWait))
                return false;
            const quint64 before = writer->committedCount();
            QTest::qWait(1200); // longer than the writer's interval
            if (writer->pendingCount() == 0 && writer->committedCount() == before)
                return true;
        }
        return false;
    }

    // Events of the kind (of one projector id when given), oldest first.
    std::vector<HistoryEvent> events(EventKind kind, const QString& projectorId = {}) const {
        return Events(historyFile(), kind, projectorId);
    }

    static std::vector<HistoryEvent> Events(const QString& file, EventKind kind,
                                            const QString& projectorId = {}) {
        EventStore store(file, EventStore::Mode::Read);
        std::vector<HistoryEvent> all;
        if (store.open() != EventStore::OpenResult::Opened)
            return all;
        EventFilter filter;
        filter.kinds = {kind};
        if (!projectorId.isEmpty())
            filter.projectorIds = {projectorId};
        std::optional<EventCursor> cursor;
        do {
            EventPage page = store.page(filter, cursor, EventStore::MaxPage);
            all.insert(all.end(), page.events.begin(), page.events.end());
            cursor = page.next;
        } while (cursor);
        std::reverse(all.begin(), all.end());
        return all;
    }

    ProgramCore core;
    int hall = 0;
    QHash<int, QString> passwords;
};
