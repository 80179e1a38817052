#pragma once

#include "platform/SecretStore.h"

// The desktop's secret store through QtKeychain: the window's alone, so
// that the service and its package need none of the desktop's libraries.
class KeychainSecretStore final : public SecretStore {
  public:
    void read(const QString& service, const QString& key, QObject* context, Reply reply) override;
    void write(const QString& service, const QString& key, const QString& value, QObject* context,
               Reply reply) override;
    void remove(const QString& service, const QString& key, QObject* context, Reply reply) override;
};
