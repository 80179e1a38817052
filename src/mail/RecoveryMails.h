#pragma once

#include "core/AppState.h"

#include <QString>

#include <optional>

// Mails the recovery of a projector for which an error, disconnect or
// authentication alert was queued since it last recovered: "Recovered: " and
// the earlier message, when the operator asked for such mails (RecoverySend).
// What is pending is kept in the projector's record.
class RecoveryMails {
  public:
    explicit RecoveryMails(AppState& state) : m_state(state) {}

    void errorAlerted(int projector, const QString& message);
    void disconnectAlerted(int projector, const QString& message);
    void authenticationAlerted(int projector, const QString& message);

    // The projector reports "Normal" again / answers again. The message of
    // the recovery mail that is due, or an empty text when none is.
    QString errorCleared(int projector);
    QString contactRegained(int projector);
    // The projector accepts our PJLink password again.
    QString authenticationCleared(int projector);

  private:
    QString take(std::optional<QString>& pending) const;
    static bool validIndex(int projector) { return projector >= 1 && projector <= MaxProjectors; }

    AppState& m_state;
};
