#pragma once

// An AppState for the mail tests: mail and communication logs in a temporary
// folder, a serial and a LAN projector, and helpers to read the logs back.

#include "core/AppState.h"
#include "log/LogFileMaker.h"
#include "mail/AlertQueue.h"
#include "support/ProjectorRecords.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class MailTestState {
  public:
    MailTestState() {
        state.ProgramFolder = m_home.path();
        state.MailLog = std::make_unique<LogFileMaker>(m_home.filePath(QStringLiteral("MailLog")));
        state.CommLog = std::make_unique<LogFileMaker>(m_home.filePath(QStringLiteral("Log")));
        state.CommLogEnabled = -1;
        state.ProjectorDeleted = [this](int deleted) { RenumberAlertsAfterDelete(state, deleted); };

        PutProjector(
            state, 1,
            SerialProjector(QStringLiteral("Hall A"), 1, {}).model(QStringLiteral("VX-100")));
        PutProjector(state, 2,
                     LanProjector(QStringLiteral("Hall B"), QStringLiteral("192.168.0.20"), {})
                         .model(QStringLiteral("VX-200"))
                         .mac(QStringLiteral("00:1A:2B:3C:4D:5E")));

        // A fixed morning, so that a test may set the clock to later hours
        // of the day without setting it back.
        state.clock.set(QDateTime(QDate(2026, 12, 8), QTime(8, 0)));
        state.Mail.MailSend = true;
        state.Mail.FromAddress = QStringLiteral("norvik@example.com");
        state.Mail.Subject = QStringLiteral("Projector alert");
    }

    QString home() const { return m_home.path(); }

    // Log lines without their time stamps, oldest first.
    QStringList mailLog() const { return lines(QStringLiteral("MailLog")); }
    QStringList commLog() const { return lines(QStringLiteral("Log")); }

  private:
    // AppState is large; keep it off the stack.
    std::unique_ptr<AppState> m_state = std::make_unique<AppState>();

  public:
    AppState& state = *m_state;

  private:
    QStringList lines(const QString& folder) const {
        QStringList out;
        const QDir dir(m_home.filePath(folder));
        for (const QString& name :
             dir.entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name)) {
            QFile file(dir.filePath(name));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QString text = QString::fromUtf8(file.readAll());
            for (const QString& line : text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
                out << line.section(QStringLiteral("],"), 1);
        }
        return out;
    }

    QTemporaryDir m_home;
};
