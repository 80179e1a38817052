#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <utility>

// What /usr/bin/python3 with `arguments` prints, given `input`.
inline QByteArray PythonFindings(const QStringList& arguments, const QByteArray& input) {
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), arguments);
    python.write(input);
    python.closeWriteChannel();
    if (!python.waitForFinished(30000))
        return "the validator did not run to its end: " + python.errorString().toUtf8();
    const QByteArray findings =
        (python.readAllStandardOutput() + python.readAllStandardError()).trimmed();
    if (python.exitCode() != 0 && findings.isEmpty())
        return "the validator failed without a finding";
    return findings;
}

// What the real JSON Schema validator finds wrong with each answer against
// its definition of docs/api/status.schema.json; empty when all are valid.
inline QByteArray SchemaFindings(const QList<std::pair<QString, QByteArray>>& answers) {
    QJsonArray list;
    for (const auto& [definition, body] : answers)
        list.append(QJsonArray{definition, QString::fromUtf8(body)});
    static const char* script = R"(
import json, sys, jsonschema
schema = json.load(open(sys.argv[1]))
jsonschema.Draft202012Validator.check_schema(schema)
found = []
for definition, body in json.load(sys.stdin):
    wrapper = {k: v for k, v in schema.items() if k != "oneOf"}
    wrapper["$ref"] = "#/$defs/" + definition
    for e in jsonschema.Draft202012Validator(wrapper).iter_errors(json.loads(body)):
        found.append(definition + " " + "/".join(map(str, e.absolute_path)) + ": " + e.message)
print("\n".join(found))
)";
    return PythonFindings({QStringLiteral("-c"), QString::fromLatin1(script),
                           qEnvironmentVariable("NORVIK3_SOURCE_DIR") +
                               QStringLiteral("/docs/api/status.schema.json")},
                          QJsonDocument(list).toJson());
}

// What openapi_check.py finds wrong with the exchanges; empty when all are as described.
inline QByteArray OpenApiFindings(const QJsonArray& exchanges) {
    const QString source = qEnvironmentVariable("NORVIK3_SOURCE_DIR");
    return PythonFindings({source + QStringLiteral("/tests/status/openapi_check.py"),
                           source + QStringLiteral("/docs/api/openapi.yaml")},
                          QJsonDocument(exchanges).toJson());
}
