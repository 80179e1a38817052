#include "status/CommandRequests.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cctype>

QString StrictProjectorId(const QString& text) {
    constexpr qsizetype Length = 36;
    if (text.size() != Length)
        return {};
    for (qsizetype k = 0; k < Length; ++k) {
        const QChar c = text[k];
        const bool dash = k == 8 || k == 13 || k == 18 || k == 23;
        if (dash ? c != u'-' : !isxdigit(c.toLatin1()) || c.unicode() > 0x7f)
            return {};
    }
    return text.toLower();
}

CommandRequestParse ParseCommandRequest(const QByteArray& body) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        return {{}, false, QStringLiteral("the body is not JSON: %1").arg(error.errorString())};
    if (!document.isObject())
        return {{}, false, QStringLiteral("the body is not a JSON object")};
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it)
        if (it.key() != QLatin1String("command") && it.key() != QLatin1String("value") &&
            it.key() != QLatin1String("confirm"))
            return {{}, false, QStringLiteral("unknown field \"%1\"").arg(it.key())};
    if (!object.value(QLatin1String("command")).isString())
        return {{}, false, QStringLiteral("\"command\" is missing or not a string")};
    const QJsonValue value = object.value(QLatin1String("value"));
    if (!value.isUndefined() && !value.isString())
        return {{}, false, QStringLiteral("\"value\" is not a string")};
    const QJsonValue confirm = object.value(QLatin1String("confirm"));
    if (!confirm.isUndefined() && !confirm.isBool())
        return {{}, false, QStringLiteral("\"confirm\" is not true or false")};
    return {CommandRequest{object.value(QLatin1String("command")).toString(), value.toString()},
            confirm.toBool(),
            {}};
}

bool NeedsConfirmation(const QString& command) {
    return command == QLatin1String("lamp-reset") || command == QLatin1String("filter-reset");
}
