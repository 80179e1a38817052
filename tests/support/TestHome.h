#pragma once

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// A fresh program folder used as NORVIK3_HOME for the life of the object.
class TestHome {
  public:
    TestHome() { qputenv("NORVIK3_HOME", m_dir.path().toUtf8()); }
    ~TestHome() { qunsetenv("NORVIK3_HOME"); }
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.filePath(name); }
    QString settingsFile() const { return file(QStringLiteral("Norvik3.conf")); }

    void write(const QString& name, const QByteArray& bytes) const {
        QFile f(file(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray read(const QString& name) const {
        QFile f(file(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

  private:
    QTemporaryDir m_dir;
};
