#pragma once

#include <QByteArray>
#include <QString>

// An operator's command as the history names it: "Power Off" or
// "Input Set 3" for a frame of the own protocol, the line itself
// ("%1POWR 0") for a PJLink one. Empty for a status query, which changes
// nothing and is no one's command.
QString CommandCaption(const QByteArray& queued);
