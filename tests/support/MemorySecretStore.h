#pragma once

#include "platform/SecretStore.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>

// A secret store in memory for tests, where no desktop secret service runs:
// answers later on the event loop like the real one, keeps entries by
// service and key, and can be made unavailable (as a locked or missing
// store answers).
class MemorySecretStore final : public SecretStore {
  public:
    QHash<QString, QString> entries; // "service/key" -> secret
    bool available = true;
    int calls = 0;

    void read(const QString& service, const QString& key, QObject* context, Reply reply) override {
        const auto it = entries.constFind(service + QLatin1Char('/') + key);
        Result result;
        if (!available)
            result.error = QStringLiteral("no secret service");
        else if (it == entries.constEnd())
            result.answer = Answer::NotFound;
        else
            result = Result{Answer::Done, *it, {}};
        answer(context, std::move(reply), result);
    }

    void write(const QString& service, const QString& key, const QString& value, QObject* context,
               Reply reply) override {
        if (available)
            entries.insert(service + QLatin1Char('/') + key, value);
        answer(context, std::move(reply), outcome());
    }

    void remove(const QString& service, const QString& key, QObject* context,
                Reply reply) override {
        if (available)
            entries.remove(service + QLatin1Char('/') + key);
        answer(context, std::move(reply), outcome());
    }

  private:
    Result outcome() const {
        return available ? Result{Answer::Done, {}, {}}
                         : Result{Answer::Unavailable, {}, QStringLiteral("no secret service")};
    }

    void answer(QObject* context, Reply reply, const Result& result) {
        ++calls;
        const QPointer<QObject> guard(context);
        const bool withContext = context != nullptr;
        QTimer::singleShot(0, [guard, withContext, reply = std::move(reply), result] {
            if (!withContext || guard)
                reply(result);
        });
    }
};
