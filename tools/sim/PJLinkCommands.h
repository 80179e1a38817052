#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace sim {

class Fleet;
class PJLinkProjector;

// The control lines about PJLink projectors: their state and quirks
// ("pj"), the counts of their connections ("pjstats"), the warm-up time
// ("warmup") and status notifications ("notify").
class PJLinkCommands {
  public:
    explicit PJLinkCommands(Fleet& fleet) : m_fleet(fleet) {}

    // The answer to a line split into words, the first one lower case;
    // nothing when the line is no PJLink command.
    std::optional<QString> execute(const QStringList& words);

    static QString usage();

  private:
    QString set(const QList<PJLinkProjector*>& targets, const QString& field,
                const QStringList& args);
    QString stats(const QStringList& args);
    QString notify(const QStringList& args);
    // The PJLink projectors named by "all" or an id; empty when the token names none.
    QList<PJLinkProjector*> targets(const QString& token) const;

    Fleet& m_fleet;
};

} // namespace sim
