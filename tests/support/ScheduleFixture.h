#pragma once

#include "comm/CommandQueue.h"
#include "core/AppState.h"
#include "core/Fleet.h"
#include "protocol/CommandTable.h"
#include "schedule/ScheduleFiles.h"
#include "support/ProjectorRecords.h"
#include "support/QueuedCommands.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// A program folder in a temporary directory and a small fleet:
//   Hall (group): Hall-1, Hall-2    Lobby (group): Bühne    Solo (under the root)
// Every projector is of model MX-1 with the inputs 0;RGB, 5;HDMI 'comment and
// 7;Video.
struct ScheduleFixture {
    QTemporaryDir home;
    std::unique_ptr<AppState> state = std::make_unique<AppState>();
    int hall = 0, hall1 = 0, hall2 = 0, lobby = 0, stage = 0, solo = 0;

    ScheduleFixture() {
        qputenv("NORVIK3_HOME", home.path().toUtf8());
        AppState& s = *state;
        s.ProgramFolder = home.path();
        QDir().mkpath(ScheduleFolder(s));
        s.LocaleId = QStringLiteral("en_GB");
        s.ShortTimeFormat = QStringLiteral("HH:mm");
        s.ModelCount = 1;
        ModelInfo& model = s.Models[1];
        model.Name = QStringLiteral("MX-1");
        model.InputNum = 3;
        model.Input[1] = QStringLiteral("0;RGB");
        model.Input[2] = QStringLiteral("5;HDMI 'second input");
        model.Input[3] = QStringLiteral("7;Video");

        hall = AddGroupNode(s, QStringLiteral("Hall"), nullptr);
        hall1 = addProjector(hall, QStringLiteral("Hall-1"));
        hall2 = addProjector(hall, QStringLiteral("Hall-2"));
        lobby = AddGroupNode(s, QStringLiteral("Lobby"), nullptr);
        stage = addProjector(lobby, QStringLiteral("Bühne"));
        solo = addProjector(1, QStringLiteral("Solo"));
    }

    int addProjector(int parent, const QString& name) {
        return AddProjector(
            *state, parent,
            LanProjector(name, QStringLiteral("127.0.0.1")).model(QStringLiteral("MX-1")));
    }

    int projectorOf(int node) const { return ProjectorOfNode(*state, node); }

    QString path(const QString& base) const { return ScheduleFilePath(*state, base); }

    void writeFile(const QString& base, const QByteArray& bytes) const {
        QFile file(path(base));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QByteArray readFile(const QString& base) const {
        QFile file(path(base));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // The section's lines as stored, in file order.
    QStringList stored(const QString& base, const QString& section) const {
        QStringList lines;
        for (const ScheduleEntry& entry : ReadScheduleSection(*state, base, section))
            lines << entry.line();
        return lines;
    }

    // The frames waiting in a projector's queue, head first.
    QList<QByteArray> queued(int projector) const {
        return QueuedCommands(*state, projector);
    }

    void clearQueues() const {
        for (int p = 1; p <= state->ProjectorCount; ++p)
            ResetProjectorQueue(*state, p);
    }
};

inline QByteArray Frame(const CommandFrame& frame) {
    return frame.toByteArray();
}
