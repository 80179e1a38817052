#pragma once

#include "core/AppState.h"

#include <QString>

#include <array>

// Remembers, per projector, the error and disconnect alerts queued since it
// last recovered, so that its recovery can be mailed: "Recovered: " and the
// earlier message, when the operator asked for such mails (RecoverySend).
class RecoveryMails {
  public:
    explicit RecoveryMails(const AppState& state) : m_state(state) {}

    void errorAlerted(int projector, const QString& message);
    void disconnectAlerted(int projector, const QString& message);

    // The projector reports "Normal" again / answers again. The message of
    // the recovery mail that is due, or an empty text when none is.
    QString errorCleared(int projector);
    QString contactRegained(int projector);

  private:
    struct Alerted {
        bool pending = false;
        QString message;
    };
    struct Pending {
        Alerted error;
        Alerted disconnect;
    };

    QString take(Alerted& alerted) const;
    static bool validIndex(int projector) { return projector >= 1 && projector <= MaxProjectors; }

    const AppState& m_state;
    std::array<Pending, MaxProjectors + 1> m_pending{};
};
