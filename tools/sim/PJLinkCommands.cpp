#include "PJLinkCommands.h"

#include "Fleet.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QUdpSocket>

#include <chrono>
#include <functional>

namespace sim {

namespace {

constexpr int MaxMs = 24 * 3600 * 1000;

std::optional<int> number(const QString& text, int min, int max) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < min || value > max)
        return std::nullopt;
    return value;
}

std::optional<bool> onOff(const QStringList& args) {
    if (args == QStringList{QStringLiteral("on")})
        return true;
    if (args == QStringList{QStringLiteral("off")})
        return false;
    return std::nullopt;
}

QString error(const QString& reason) {
    return QStringLiteral("ERR ") + reason;
}

const QString Ok = QStringLiteral("OK");

using Apply = std::function<void(PJLinkProjector&)>;

} // namespace

std::optional<QString> PJLinkCommands::execute(const QStringList& words) {
    const QString& command = words.value(0);
    if (command == QLatin1String("warmup")) {
        const auto ms = words.size() == 2 ? number(words[1], 0, MaxMs) : std::nullopt;
        if (!ms)
            return error(QStringLiteral("usage: warmup <ms>"));
        m_fleet.setWarmUp(std::chrono::milliseconds(*ms));
        return Ok;
    }
    if (command == QLatin1String("pjstats"))
        return stats(words.mid(1));
    if (command == QLatin1String("notify"))
        return notify(words.mid(1));
    if (command != QLatin1String("pj"))
        return std::nullopt;
    if (words.size() < 3)
        return error(QStringLiteral("usage: pj <id|all> <setting> <value>..."));
    const QList<PJLinkProjector*> chosen = targets(words[1]);
    if (chosen.isEmpty())
        return error(QStringLiteral("no PJLink projector ") + words[1]);
    const QString field = words[2].toLower();
    if (field == QLatin1String("state")) {
        if (chosen.size() != 1 || words.size() != 3)
            return error(QStringLiteral("usage: pj <id> state"));
        return Ok + QLatin1Char(' ') + chosen.first()->model().describe();
    }
    return set(chosen, field, words.mid(3));
}

QString PJLinkCommands::set(const QList<PJLinkProjector*>& targets, const QString& field,
                            const QStringList& args) {
    const QByteArray text = args.join(QLatin1Char(' ')).toUtf8();
    const auto single = [&](int min, int max) {
        return args.size() == 1 ? number(args[0], min, max) : std::nullopt;
    };
    Apply apply;
    QString usage;
    if (field == QLatin1String("power")) {
        if (const auto power = single(0, 3))
            apply = [power](PJLinkProjector& p) { p.model().power = *power; };
        usage = QStringLiteral("power 0|1|2|3");
    } else if (field == QLatin1String("class")) {
        if (const auto pjClass = single(1, 2))
            apply = [pjClass](PJLinkProjector& p) { p.model().pjClass = *pjClass; };
        usage = QStringLiteral("class 1|2");
    } else if (field == QLatin1String("filter")) {
        if (const auto hours = single(0, 99999))
            apply = [hours](PJLinkProjector& p) { p.model().filter = *hours; };
        usage = QStringLiteral("filter <0..99999>");
    } else if (field == QLatin1String("lamps")) {
        QList<int> hours;
        for (const QString& arg : args) {
            if (const auto h = number(arg, 0, 99999))
                hours << *h;
        }
        if (!hours.isEmpty() && hours.size() == args.size() &&
            hours.size() <= PJLinkModel::MaxLamps)
            apply = [hours](PJLinkProjector& p) { p.model().lamps = hours; };
        usage = QStringLiteral("lamps <hours of lamp 1> [<hours of lamp 2>...] (1 to 8 lamps)");
    } else if (field == QLatin1String("erst")) {
        if (args.size() == 1 &&
            QRegularExpression(QStringLiteral("^[0-2]{6}$")).match(args[0]).hasMatch())
            apply = [code = text](PJLinkProjector& p) { p.model().errors = code; };
        usage = QStringLiteral("erst <six digits 0-2: fan lamp temperature cover filter other>");
    } else if (field == QLatin1String("input")) {
        const QByteArray code = text.toUpper();
        if (args.size() == 1 && PJLinkModel::isInputCode(code, '2'))
            apply = [code](PJLinkProjector& p) { p.model().input = code; };
        usage = QStringLiteral("input <code such as 31 or 3A>");
    } else if (field == QLatin1String("inputs")) {
        QList<QByteArray> codes;
        for (const QString& arg : args) {
            if (const QByteArray code = arg.toUpper().toLatin1();
                PJLinkModel::isInputCode(code, '2'))
                codes << code;
        }
        if (!codes.isEmpty() && codes.size() == args.size())
            apply = [codes](PJLinkProjector& p) { p.model().inputs = codes; };
        usage = QStringLiteral("inputs <code> [<code>...]");
    } else if (field == QLatin1String("inputname")) {
        const QByteArray code = args.value(0).toUpper().toLatin1();
        if (args.size() >= 2 && PJLinkModel::isInputCode(code, '2'))
            apply = [code, name = args.mid(1).join(QLatin1Char(' ')).toUtf8()](PJLinkProjector& p) {
                p.model().inputNames.insert(code, name);
            };
        usage = QStringLiteral("inputname <code> <text>");
    } else if (field == QLatin1String("password")) {
        if (args.size() == 1) {
            const QByteArray password = args[0] == QLatin1String("none") ? QByteArray() : text;
            apply = [password](PJLinkProjector& p) { p.setPassword(password); };
        }
        usage = QStringLiteral("password <text>|none");
    } else if (field == QLatin1String("idledrop") || field == QLatin1String("delay")) {
        const bool idle = field == QLatin1String("idledrop");
        if (const auto ms = single(0, MaxMs))
            apply = [ms, idle](PJLinkProjector& p) {
                (idle ? p.quirks().idleDrop : p.quirks().delay) = std::chrono::milliseconds(*ms);
            };
        usage = field + QLatin1String(idle ? " <ms> (0: never)" : " <ms> (0: at once)");
    } else {
        using Text = QByteArray PJLinkModel::*;
        const QMap<QString, Text> texts{{QStringLiteral("name"), &PJLinkModel::name},
                                        {QStringLiteral("maker"), &PJLinkModel::maker},
                                        {QStringLiteral("product"), &PJLinkModel::product},
                                        {QStringLiteral("info"), &PJLinkModel::info},
                                        {QStringLiteral("serial"), &PJLinkModel::serial},
                                        {QStringLiteral("version"), &PJLinkModel::version},
                                        {QStringLiteral("mac"), &PJLinkModel::mac}};
        using Flag = std::function<bool&(PJLinkProjector&)>;
        const QMap<QString, Flag> flags{
            {QStringLiteral("lowercase"),
             [](PJLinkProjector& p) -> bool& { return p.model().lowercase; }},
            {QStringLiteral("classtext"),
             [](PJLinkProjector& p) -> bool& { return p.model().classText; }},
            {QStringLiteral("wrongreply"),
             [](PJLinkProjector& p) -> bool& { return p.model().wrongReply; }},
            {QStringLiteral("silent"),
             [](PJLinkProjector& p) -> bool& { return p.quirks().silent; }},
            {QStringLiteral("nogreeting"),
             [](PJLinkProjector& p) -> bool& { return p.quirks().noGreeting; }},
            {QStringLiteral("erra"), [](PJLinkProjector& p) -> bool& { return p.quirks().erra; }},
            {QStringLiteral("flood"),
             [](PJLinkProjector& p) -> bool& { return p.quirks().flood; }}};
        if (const auto member = texts.value(field)) {
            // Texts go on the wire as they are: a line end would split the reply.
            if (!text.contains('\r') && !text.contains('\n'))
                apply = [member, text](PJLinkProjector& p) { p.model().*member = text; };
            usage = field + QStringLiteral(" <text>");
        } else if (const Flag flag = flags.value(field)) {
            if (const auto on = onOff(args))
                apply = [flag, on](PJLinkProjector& p) { flag(p) = *on; };
            usage = field + QStringLiteral(" on|off");
        } else {
            return error(QStringLiteral("unknown PJLink setting ") + field);
        }
    }
    if (!apply)
        return error(QStringLiteral("usage: pj <id|all> ") + usage);
    for (PJLinkProjector* projector : targets) {
        apply(*projector);
        projector->syncPower();
    }
    return Ok;
}

QString PJLinkCommands::stats(const QStringList& args) {
    const QList<PJLinkProjector*> chosen = targets(args.value(0));
    const bool reset = args.size() == 2 && args[1] == QLatin1String("reset");
    if (chosen.size() != 1 || (args.size() != 1 && !reset))
        return error(QStringLiteral("usage: pjstats <id> [reset]"));
    PJLinkProjector& projector = *chosen.first();
    if (reset) {
        projector.resetStats();
        return Ok;
    }
    const PJLinkStats& stats = projector.stats();
    return QStringLiteral("OK connections=%1 concurrent_max=%2 open=%3 commands=%4")
        .arg(stats.connections)
        .arg(stats.concurrentMax)
        .arg(stats.open)
        .arg(stats.commands);
}

QString PJLinkCommands::notify(const QStringList& args) {
    const QString usage =
        QStringLiteral("usage: notify <id> <udp-port> <%2LINE=value> [from-address]");
    if (args.size() < 3 || args.size() > 4 || targets(args[0]).size() != 1)
        return error(usage);
    const auto port = number(args[1], 1, 65535);
    const QByteArray line = args[2].toLatin1();
    const QHostAddress from(args.value(3, QStringLiteral("127.0.0.1")));
    if (!port || !line.startsWith("%2") || from.isNull())
        return error(usage);
    QUdpSocket socket;
    if (!socket.bind(from, 0))
        return error(
            QStringLiteral("cannot bind to %1: %2").arg(from.toString(), socket.errorString()));
    const QByteArray datagram = line + '\r';
    if (socket.writeDatagram(datagram, QHostAddress::LocalHost, quint16(*port)) != datagram.size())
        return error(QStringLiteral("cannot send: ") + socket.errorString());
    return Ok;
}

QList<PJLinkProjector*> PJLinkCommands::targets(const QString& token) const {
    QList<PJLinkProjector*> chosen;
    if (token == QLatin1String("all")) {
        for (int i = 0; i < m_fleet.pjlinkCount(); ++i)
            chosen.append(m_fleet.pjlink(m_fleet.firstPJLinkId() + i));
        return chosen;
    }
    bool ok = false;
    if (PJLinkProjector* projector = m_fleet.pjlink(token.toInt(&ok)); ok && projector)
        chosen.append(projector);
    return chosen;
}

QString PJLinkCommands::usage() {
    return QStringLiteral(
        "PJLink projectors (ids after the TCP and pty ones; 'all' means every PJLink one):\n"
        "  pj <id> power 0|1|2|3       off, on, cooling down, warming up\n"
        "  pj <id> input <code>        the current input, e.g. 31 or 3A\n"
        "  pj <id> inputs <code>...    the input list (INST)\n"
        "  pj <id> inputname <code> <text>  the name of an input (INNM)\n"
        "  pj <id> name|maker|product|info|serial|version <text>\n"
        "                              NAME, INF1, INF2, INFO, SNUM, SVER\n"
        "  pj <id> mac <text>          the MAC address a class 2 projector answers a search with\n"
        "  pj <id> erst <dddddd>       error digits: fan lamp temperature cover filter other,\n"
        "                              each 0 ok, 1 warning, 2 error\n"
        "  pj <id> lamps <hours>...    hours of each lamp, 1 to 8 lamps\n"
        "  pj <id> filter <hours>      filter hours (FILT)\n"
        "  pj <id> class 1|2           the PJLink class it speaks\n"
        "  pj <id> password <text>|none  the password for new connections\n"
        "  pj <id> lowercase on|off    replies in lower case (%1powr=1)\n"
        "  pj <id> classtext on|off    CLSS answers 'Class 1' instead of '1'\n"
        "  pj <id> idledrop <ms>       close a connection idle that long (0: never)\n"
        "  pj <id> delay <ms>          send each reply this long after its command (0: at once)\n"
        "  pj <id> silent on|off       accept connections, never send anything\n"
        "  pj <id> nogreeting on|off   never send the greeting\n"
        "  pj <id> erra on|off         answer PJLINK ERRA to every password\n"
        "  pj <id> wrongreply on|off   answer the next query with another command's reply\n"
        "  pj <id> flood on|off        send 5 KiB without a line end after the greeting\n"
        "  pj <id> state               OK class=.. power=.. input=.. ...\n"
        "  pjstats <id> [reset]        OK connections=<accepted> concurrent_max=<most at once>\n"
        "                              open=<open now> commands=<lines received>; reset zeroes\n"
        "  notify <id> <udp-port> <line> [from-address]  send one notification such as\n"
        "                              %2POWR=1 to 127.0.0.1:<udp-port> (from 127.0.0.1)\n"
        "  warmup <ms>                 warm-up duration for all PJLink projectors\n");
}

} // namespace sim
