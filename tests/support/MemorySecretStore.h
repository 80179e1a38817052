#pragma once

#include "core/AppState.h"
#include "platform/SecretStore.h"

#include <QHash>
#include <QPointer>
#include <QTest>
#include <QTimer>

// A secret store in memory for tests, where no desktop secret service runs: answers later on
// the event loop like the real one, keeps entries by "service/key", and can be made
// unavailable (as a locked or missing store answers).
class MemorySecretStore final : public SecretStore {
  public:
    // How a test row's window store behaves; None is the service, which has no store.
    enum Kind { Answers, Unavailable, None };

    QHash<QString, QString> entries;
    bool available;
    int calls = 0;

    // The column "store" with a row for each kind.
    static void addRows() {
        QTest::addColumn<int>("store");
        QTest::newRow("store answers") << int(Answers);
        QTest::newRow("store unavailable") << int(Unavailable);
        QTest::newRow("no store (the service)") << int(None);
    }

    // The state's store (unless None), holding `entry`.
    MemorySecretStore(int kind, AppState& state, const QString& entry, const QString& secret)
        : entries{{entry, secret}}, available(kind == Answers) {
        if (kind != None)
            state.Secrets = this;
    }

    void read(const QString& service, const QString& key, QObject* context, Reply reply) override {
        const auto it = entries.constFind(service + u'/' + key);
        answer(context, std::move(reply),
               it == entries.constEnd() ? Result{Answer::NotFound, {}, {}}
                                        : Result{Answer::Done, *it, {}});
    }
    void write(const QString& service, const QString& key, const QString& value, QObject* context,
               Reply reply) override {
        if (available)
            entries.insert(service + u'/' + key, value);
        answer(context, std::move(reply), Result{Answer::Done, {}, {}});
    }
    void remove(const QString& service, const QString& key, QObject* context,
                Reply reply) override {
        if (available)
            entries.remove(service + u'/' + key);
        answer(context, std::move(reply), Result{Answer::Done, {}, {}});
    }

  private:
    void answer(QObject* context, Reply reply, Result result) {
        ++calls;
        if (!available)
            result = Result{Answer::Unavailable, {}, QStringLiteral("no secret service")};
        QTimer::singleShot(0, [guard = QPointer<QObject>(context), withContext = context != nullptr,
                               reply = std::move(reply), result] {
            if (!withContext || guard)
                reply(result);
        });
    }
};
