#include "ui/KeychainSecretStore.h"

#include <qt6keychain/keychain.h>

#include <QObject>

#include <utility>

namespace {

// The job has no parent and deletes itself once finished, so a write goes
// through even when whoever asked is gone; only its answer is dropped then.
void run(QKeychain::Job* job, const QString& key, QObject* context, SecretStore::Reply reply,
         bool isRead) {
    job->setKey(key);
    job->setAutoDelete(true);
    QObject* receiver = context ? context : job;
    QObject::connect(
        job, &QKeychain::Job::finished, receiver, [job, isRead, reply = std::move(reply)] {
            SecretStore::Result result;
            if (job->error() == QKeychain::NoError) {
                result.answer = SecretStore::Answer::Done;
                if (isRead)
                    result.value = static_cast<QKeychain::ReadPasswordJob*>(job)->textData();
            } else if (job->error() == QKeychain::EntryNotFound) {
                result.answer = SecretStore::Answer::NotFound;
            } else {
                result.error = job->errorString();
            }
            reply(result);
        });
    job->start();
}

} // namespace

void KeychainSecretStore::read(const QString& service, const QString& key, QObject* context,
                               Reply reply) {
    run(new QKeychain::ReadPasswordJob(service), key, context, std::move(reply), true);
}

void KeychainSecretStore::write(const QString& service, const QString& key, const QString& value,
                                QObject* context, Reply reply) {
    auto* job = new QKeychain::WritePasswordJob(service);
    job->setTextData(value);
    run(job, key, context, std::move(reply), false);
}

void KeychainSecretStore::remove(const QString& service, const QString& key, QObject* context,
                                 Reply reply) {
    run(new QKeychain::DeletePasswordJob(service), key, context, std::move(reply), false);
}
