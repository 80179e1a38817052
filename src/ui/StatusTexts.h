#pragma once

#include <QString>

struct AppState;
struct ProjectorInfo;

// Texts and look-ups of the main window that the engine's display texts
// (comm/StatusDisplay.h) do not cover.

// "COM<n>" for a serial projector; the address, with " (MAC)" once known.
QString ConnectionText(const ProjectorInfo& projector);
// The group list's shorter form: "COM<n>" or the address alone.
QString ListConnectionText(const ProjectorInfo& projector);

// The projector answers, but has refused every status query for several
// passes in a row.
bool IsRefusing(const ProjectorInfo& projector);
// Nothing the record holds is current: the projector is out of contact, or
// refused our PJLink password.
bool IsStatusUnknown(const ProjectorInfo& projector);
// A PJLink projector's warning ("Lamp Warning") while it answers and
// reports no error; empty otherwise.
QString ShownWarning(const ProjectorInfo& projector);
// The error status as the window shows it: "Authentication Error" for a
// PJLink projector that refused the password, "Disconnect" for a projector
// out of contact, "Refusing" for one that answers nothing but refusals, a
// warning while there is no error, else the error's name.
QString StatusDisplayText(const ProjectorInfo& projector);
// What the status means and what to do, for the status cell's tool tip;
// empty where the text says it all.
QString StatusToolTip(const ProjectorInfo& projector);
// "Own" or "PJLink".
QString ProtocolText(const ProjectorInfo& projector);
// The input as shown: the model's name of it, or for PJLink the projector's
// name of it or its kind and number ("RGB 1"); "-" while not reported.
QString InputText(const AppState& state, int projector);
// A PJLink input code as an entry of the input drop-down: the projector's
// name of the current input, else its kind and number.
QString PJLinkInputEntryText(const ProjectorInfo& projector, const QString& code);
// Every lamp's hours and state: "Lamp 1: 1520 h on, Lamp 2: 300 h off"; "-"
// while none was reported.
QString PJLinkLampsText(const ProjectorInfo& projector);
// "1" or "2", "-" while not known.
QString PJLinkClassText(const ProjectorInfo& projector);

