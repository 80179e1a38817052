#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

// What the real `promtool check metrics` finds wrong with a metrics text;
// empty when it is clean, the reason when promtool could not run.
inline QByteArray PromtoolFindings(const QByteArray& metrics, int waitMs = 30000) {
    QProcess promtool;
    promtool.start(QStringLiteral("promtool"),
                   {QStringLiteral("check"), QStringLiteral("metrics")});
    if (!promtool.waitForStarted())
        return "promtool did not start (scripts/setup installs it)";
    promtool.write(metrics);
    promtool.closeWriteChannel();
    if (!promtool.waitForFinished(waitMs))
        return "promtool did not finish";
    const QByteArray output =
        (promtool.readAllStandardOutput() + promtool.readAllStandardError()).trimmed();
    if (promtool.exitCode() != 0 && output.isEmpty())
        return "promtool failed without a finding";
    return output;
}
