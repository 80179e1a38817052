#pragma once

#include "core/StatusItem.h"

#include <QByteArray>
#include <QList>
#include <QVarLengthArray>

#include <optional>

struct ProjectorInfo;

// What one PJLink value (a reply or a notification) changed in a record.
struct PJLinkUpdate {
    QVarLengthArray<StatusItem, 2> changed;
    // One of the polled status items was reported.
    bool statusReport = false;
    // ERST's error code (0 Normal), for the error alert.
    std::optional<qint16> error;
    std::optional<qint32> lampHours;
    std::optional<qint32> filterHours;
    // Queries the value calls for: the class 2 facts after CLSS, the name of
    // a new input.
    QList<QByteArray> followUps;
};

// Applies the value of a reply to `body` ("POWR", "ERST", ...) to the
// record. A value that cannot be read changes nothing.
PJLinkUpdate ApplyPJLinkValue(ProjectorInfo& info, const QByteArray& body, const QByteArray& value);

// The queries of a polling pass for a PJLink projector: on first contact
// and after a reconnect its class, name, maker, product and inputs first,
// then the status.
QList<QByteArray> PJLinkPollLines(const ProjectorInfo& info);
