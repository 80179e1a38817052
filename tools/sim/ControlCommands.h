#pragma once

#include "PJLinkCommands.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace sim {

class Fleet;
class Projector;

// The line commands of the control channel. Every line gets one answer
// line, "OK..." or "ERR <reason>".
class ControlCommands : public QObject {
    Q_OBJECT
  public:
    explicit ControlCommands(Fleet& fleet, QObject* parent = nullptr);

    QString execute(const QString& line);

    // The command summary printed by --help.
    static QString usage();

  signals:
    void quitRequested();

  private:
    QString setState(const QString& command, const QList<Projector*>& targets,
                     const QStringList& args);
    QString setFault(const QString& command, const QList<Projector*>& targets,
                     const QStringList& args);
    QString query(const QString& command, Projector& projector);
    // The projectors named by "all" or an id; empty when the token names none.
    QList<Projector*> targets(const QString& token) const;

    Fleet& m_fleet;
    PJLinkCommands m_pjlink;
};

} // namespace sim
