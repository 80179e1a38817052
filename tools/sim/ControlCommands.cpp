#include "ControlCommands.h"

#include "Fleet.h"

#include <chrono>
#include <optional>

namespace sim {

namespace {

const QStringList StateCommands{"error", "power", "lamp", "filter", "input"};
const QStringList FaultCommands{"refuse",   "silent", "delay",    "split",
                                "trailing", "raw",    "closemid", "greeting"};
const QStringList QueryCommands{"frames", "connections", "state", "clear"};

std::optional<int> number(const QString& text, int max) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 0 || value > max)
        return std::nullopt;
    return value;
}

std::optional<bool> onOff(const QString& text) {
    if (text == QLatin1String("on"))
        return true;
    if (text == QLatin1String("off"))
        return false;
    return std::nullopt;
}

std::optional<QByteArray> hexBytes(const QString& text) {
    if (text.size() % 2 != 0)
        return std::nullopt;
    for (const QChar c : text) {
        if (!c.isDigit() && !QStringLiteral("abcdefABCDEF").contains(c))
            return std::nullopt;
    }
    return QByteArray::fromHex(text.toLatin1());
}

QString error(const QString& reason) {
    return QStringLiteral("ERR ") + reason;
}

} // namespace

ControlCommands::ControlCommands(Fleet& fleet, QObject* parent)
    : QObject(parent), m_fleet(fleet), m_pjlink(fleet) {}

QString ControlCommands::execute(const QString& line) {
    const QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return error(QStringLiteral("empty command"));
    const QString command = words[0].toLower();
    if (const auto answer = m_pjlink.execute(QStringList{command} + words.mid(1)))
        return *answer;

    if (command == QLatin1String("quit")) {
        emit quitRequested();
        return QStringLiteral("OK");
    }
    if (command == QLatin1String("cooldown")) {
        const auto ms = words.size() == 2 ? number(words[1], 24 * 3600 * 1000) : std::nullopt;
        if (!ms)
            return error(QStringLiteral("usage: cooldown <ms>"));
        m_fleet.setCoolDown(std::chrono::milliseconds(*ms));
        return QStringLiteral("OK");
    }
    const bool known = StateCommands.contains(command) || FaultCommands.contains(command) ||
                       QueryCommands.contains(command);
    if (!known)
        return error(QStringLiteral("unknown command ") + command);
    if (words.size() < 2)
        return error(QStringLiteral("missing projector id"));
    const QList<Projector*> chosen = targets(words[1]);
    if (chosen.isEmpty())
        return error(QStringLiteral("no projector ") + words[1]);
    const QStringList args = words.mid(2);

    if (StateCommands.contains(command))
        return setState(command, chosen, args);
    if (FaultCommands.contains(command))
        return setFault(command, chosen, args);
    if (command == QLatin1String("clear")) {
        for (Projector* projector : chosen)
            projector->clearRecords();
        return QStringLiteral("OK");
    }
    if (chosen.size() != 1)
        return error(command + QStringLiteral(" needs one projector id"));
    return query(command, *chosen.first());
}

QString ControlCommands::setState(const QString& command, const QList<Projector*>& targets,
                                  const QStringList& args) {
    // Codes outside the protocol's ranges are allowed on purpose: they let a
    // test see how the program shows a code it does not know.
    const auto value = args.size() == 1 ? number(args[0], 0xFFFF) : std::nullopt;
    if (!value)
        return error(QStringLiteral("usage: %1 <id|all> <0..65535>").arg(command));
    for (Projector* projector : targets) {
        ProjectorModel& model = projector->model();
        if (command == QLatin1String("error"))
            model.error = *value;
        else if (command == QLatin1String("power"))
            model.power = *value;
        else if (command == QLatin1String("lamp"))
            model.lamp = *value;
        else if (command == QLatin1String("filter"))
            model.filter = *value;
        else
            model.input = *value;
        projector->syncCoolDown();
    }
    return QStringLiteral("OK");
}

QString ControlCommands::setFault(const QString& command, const QList<Projector*>& targets,
                                  const QStringList& args) {
    const QString arg = args.value(0);
    if (command == QLatin1String("refuse") || command == QLatin1String("silent") ||
        command == QLatin1String("closemid")) {
        const auto on = args.size() == 1 ? onOff(arg) : std::nullopt;
        if (!on)
            return error(QStringLiteral("usage: %1 <id|all> on|off").arg(command));
        for (Projector* projector : targets) {
            Faults& faults = projector->faults();
            (command == QLatin1String("refuse")   ? faults.refuse
             : command == QLatin1String("silent") ? faults.silent
                                                  : faults.closeMid) = *on;
        }
        return QStringLiteral("OK");
    }
    if (command == QLatin1String("delay") || command == QLatin1String("split")) {
        const auto ms = args.size() == 1 ? number(arg, 600000) : std::nullopt;
        if (!ms)
            return error(QStringLiteral("usage: %1 <id|all> <ms>").arg(command));
        for (Projector* projector : targets) {
            Faults& faults = projector->faults();
            (command == QLatin1String("delay") ? faults.delay : faults.split) =
                std::chrono::milliseconds(*ms);
        }
        return QStringLiteral("OK");
    }
    if (command == QLatin1String("greeting")) {
        if (args.isEmpty())
            return error(QStringLiteral("usage: greeting <id|all> <text>|off"));
        const QByteArray text = arg == QLatin1String("off") && args.size() == 1
                                    ? QByteArray()
                                    : args.join(QLatin1Char(' ')).toUtf8() + '\r';
        for (Projector* projector : targets)
            projector->faults().greeting = text;
        return QStringLiteral("OK");
    }
    if (command == QLatin1String("trailing")) {
        const bool stop = args.isEmpty() || arg == QLatin1String("off");
        const auto bytes =
            stop ? std::optional<QByteArray>(QByteArray()) : hexBytes(args.join(QString()));
        if (!bytes)
            return error(QStringLiteral("usage: trailing <id|all> <hex bytes>|off"));
        for (Projector* projector : targets)
            projector->faults().trailing = *bytes;
        return QStringLiteral("OK");
    }
    const auto bytes = args.isEmpty() ? std::nullopt : hexBytes(args.join(QString()));
    if (!bytes || bytes->isEmpty())
        return error(QStringLiteral("usage: raw <id|all> <hex bytes>"));
    for (Projector* projector : targets)
        projector->faults().raw = *bytes;
    return QStringLiteral("OK");
}

QString ControlCommands::query(const QString& command, Projector& projector) {
    if (command == QLatin1String("connections"))
        return QStringLiteral("OK %1").arg(projector.connections());
    if (command == QLatin1String("state"))
        return QStringLiteral("OK ") + projector.model().describe();
    QString answer = QStringLiteral("OK %1").arg(projector.frames().size());
    for (const QByteArray& frame : projector.frames())
        answer += QLatin1Char(' ') + QString::fromLatin1(frame.toHex().toUpper());
    return answer;
}

QList<Projector*> ControlCommands::targets(const QString& token) const {
    QList<Projector*> chosen;
    if (token == QLatin1String("all")) {
        for (int id = 1; id <= m_fleet.count(); ++id)
            chosen.append(m_fleet.projector(id));
        return chosen;
    }
    bool ok = false;
    if (Projector* projector = m_fleet.projector(token.toInt(&ok)); ok && projector)
        chosen.append(projector);
    return chosen;
}

QString ControlCommands::usage() {
    const QString own = QStringLiteral(
        "Control commands (stdin, or one line per command on --control-port); <id> is a\n"
        "projector id or 'all'. Every command is answered with one line, OK... or ERR <reason>.\n"
        "  error <id> <code>          error code reported by the error status get\n"
        "  power <id> <0|1|2>         set the power state (2 cools down, then off)\n"
        "  lamp <id> <hours>          set the lamp hours\n"
        "  filter <id> <hours>        set the filter hours\n"
        "  input <id> <code>          set the input source\n"
        "  refuse <id> on|off         answer every frame with 15\n"
        "  silent <id> on|off         read frames but never answer\n"
        "  delay <id> <ms>            answer after a delay (0: at once)\n"
        "  split <id> <ms>            send replies byte by byte, <ms> apart (0: whole)\n"
        "  trailing <id> <hex>|off    append these bytes after every reply\n"
        "  raw <id> <hex>             answer the next frame with exactly these bytes\n"
        "  greeting <id> <text>|off   send text and CR on every new TCP connection\n"
        "  closemid <id> on|off       send the first reply byte, then close the connection\n"
        "  cooldown <ms>              cool-down duration for all projectors\n"
        "  frames <id>                OK <n> <frame hex>... every frame received\n"
        "  connections <id>           OK <TCP connections accepted>\n"
        "  state <id>                 OK power=.. input=.. aspect=.. error=.. lamp=.. ...\n"
        "  clear <id>                 forget recorded frames and connection counts\n"
        "  quit                       exit\n");
    return own + PJLinkCommands::usage();
}

} // namespace sim
