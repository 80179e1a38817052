#include "service/ServiceLog.h"

#include <QLoggingCategory>
#include <QtGlobal>

#include <cstdio>

namespace {

bool UnderJournal() {
    return qEnvironmentVariableIsSet("JOURNAL_STREAM");
}

void Write(LogPriority priority, const QString& text) {
    if (UnderJournal())
        std::fprintf(stderr, "<%d>", int(priority));
    std::fprintf(stderr, "norvik3d: %s\n", qPrintable(text));
    std::fflush(stderr);
}

void HandleQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    switch (type) {
    case QtDebugMsg:
    case QtInfoMsg:
        Write(LogPriority::Info, message);
        break;
    case QtWarningMsg:
        Write(LogPriority::Warning, message);
        break;
    case QtCriticalMsg:
    case QtFatalMsg:
        Write(LogPriority::Error, message);
        break;
    }
}

} // namespace

void Say(LogPriority priority, const QString& line) {
    Write(priority, line);
}

void InstallServiceMessageHandler() {
    if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(
            QStringLiteral("norvik.*.debug=false\nnorvik.*.info=false\nnorvik.*.warning=false\n"
                           "norvik.status.control.info=true\nnorvik.schedule.warning=true"));
    qInstallMessageHandler(HandleQtMessage);
}
