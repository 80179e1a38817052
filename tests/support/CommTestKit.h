#pragma once

// Helpers shared by the communication tests: a refresh sink that records
// what the engine reports, a communication log in a temporary folder,
// reading that log back without its time stamps, and an engine against the
// simulator.

#include "support/ProjectorRecords.h"
#include "support/SimProcess.h"

#include "comm/CommEngine.h"
#include "comm/EngineObserver.h"
#include "comm/RefreshSink.h"
#include "core/AppState.h"
#include "core/SettingsStore.h"
#include "log/LogFileMaker.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

struct RecordingSink : RefreshSink {
    std::vector<std::pair<int, StatusItem>> changed;
    std::vector<std::pair<int, StatusItem>> restored;
    std::vector<int> reachability;

    void statusChanged(int projector, StatusItem item) override {
        changed.emplace_back(projector, item);
    }
    void restoreDropDown(int projector, StatusItem item) override {
        restored.emplace_back(projector, item);
    }
    void reachabilityChanged(int projector) override { reachability.push_back(projector); }

    int countChanged(int projector, StatusItem item) const {
        int n = 0;
        for (const auto& c : changed)
            n += c.first == projector && c.second == item;
        return n;
    }
};

// Switches the communication log on, writing into dir/Log.
inline void EnableCommLog(AppState& state, const QTemporaryDir& dir) {
    state.CommLogEnabled = 1;
    state.CommLog = std::make_unique<LogFileMaker>(dir.filePath(QStringLiteral("Log")));
}

// Projectors 1..own on the simulator's TCP ports, then `pjlink` PJLink ones
// on its PJLink ports, named "PJ1", "PJ2", ...
template <typename Sim>
void UseSimulatedLanProjectors(AppState& state, const Sim& sim, int own, int pjlink = 0) {
    const QString local = QStringLiteral("127.0.0.1");
    for (int p = 1; p <= own + pjlink; ++p) {
        const QString name = QStringLiteral("PJ%1").arg(p);
        PutProjector(state, p,
                     p > own ? PJLinkProjector(name, local, QString::number(sim.pjlinkPort(p)))
                             : LanProjector(name, local, QString::number(sim.tcpPort(p))));
    }
}

// Every line of every log file of dir/Log, with the "[stamp]," prefix removed.
inline QStringList CommLogLines(const QTemporaryDir& dir) {
    QStringList lines;
    const QDir folder(dir.filePath(QStringLiteral("Log")));
    const QStringList files = folder.entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name);
    for (const QString& name : files) {
        QFile file(folder.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QStringList raw = QString::fromLocal8Bit(file.readAll())
                                    .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        for (const QString& line : raw) {
            const int cut = line.indexOf(QStringLiteral("],"));
            lines << (line.startsWith(QLatin1Char('[')) && cut > 0 ? line.mid(cut + 2) : line);
        }
    }
    return lines;
}

inline int CountLines(const QStringList& lines, const QString& text) {
    return int(lines.count(text));
}

inline QString Hex(const QByteArray& bytes) {
    QString out;
    for (char b : bytes)
        out += QStringLiteral("[%1]").arg(quint8(b), 2, 16, QLatin1Char('0')).toUpper();
    return out;
}

// A stand-in for ping that prints the shape of the real output. It answers
// as the file "<script>.mode" says: ok, fail, hang (never ends) or slowfail
// (fails after a second), and appends its arguments to "<script>.calls".
inline const char* const PingScript = R"sh(#!/bin/sh
echo "$*" >> "$0.calls"
case "$(cat "$0.mode")" in
ok) printf 'PING %s (%s) 56(84) bytes of data.\n64 bytes from %s: icmp_seq=1 ttl=64 time=0.051 ms\n' "$6" "$6" "$6"; exit 0;;
hang) exec sleep 600;;
slowfail) sleep 1; exit 1;;
*) printf 'PING %s (%s) 56(84) bytes of data.\n\n--- %s ping statistics ---\n1 packets transmitted, 0 received, 100%% packet loss, time 0ms\n' "$6" "$6" "$6"; exit 1;;
esac
)sh";

inline void WriteFile(const QString& path, const QByteArray& text, bool executable = false) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();
    if (executable)
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

// Writes the ping stand-in into dir and sets its mode; returns its path.
inline QString MakePingScript(const QTemporaryDir& dir, const char* mode) {
    const QString path = dir.filePath(QStringLiteral("ping"));
    WriteFile(path, PingScript, true);
    WriteFile(path + QStringLiteral(".mode"), mode);
    return path;
}

// The engine on a fresh state against the simulator, for a test class to
// derive from: startSimulator() makes the folder, the simulator, the state
// and its communication log; the test then sets its projectors and calls
// startEngine(); endEngine() ends them all, the engine first.
template <typename Sink = RecordingSink> struct SimulatedEngine {
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<AppState> state;
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<CommEngine> engine;
    Sink sink;

    void startSimulator(const QStringList& arguments, int timeoutMs) {
        dir = std::make_unique<QTemporaryDir>();
        sim = std::make_unique<SimProcess>(arguments);
        QVERIFY2(sim->isReady(), qPrintable(sim->errorString()));
        state = std::make_unique<AppState>();
        EnableCommLog(*state, *dir);
        state->Timing.TcpTimeoutTime = timeoutMs;
    }

    // `ping` stands in for the reachability check.
    void startEngine(const QString& ping) {
        settings = std::make_unique<SettingsStore>(dir->filePath(QStringLiteral("Norvik3.conf")));
        engine = std::make_unique<CommEngine>(*state, *settings);
        engine->setToolPrograms(ping, QStringLiteral("ip"), std::chrono::seconds(120));
        sink = Sink{};
        engine->setRefreshSink(&sink);
        // A sink that follows the engine's work too is its observer as well.
        if constexpr (std::is_base_of_v<EngineObserver, Sink>)
            engine->addObserver(&sink);
        engine->InitializeQueues();
    }

    void endEngine() {
        engine.reset();
        settings.reset();
        state.reset();
        sim.reset();
        dir.reset();
    }
};
