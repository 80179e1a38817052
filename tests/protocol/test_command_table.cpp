#include "protocol/CommandTable.h"

#include <QFile>
#include <QTest>

#include <set>

// Checks every frame of the table byte for byte against the reference list
// tests/comm/frames.txt, and the invariants that hold across all frames.
class TestCommandTable : public QObject {
    Q_OBJECT

  private:
    static int word(const CommandFrame& f, int offset) {
        return f.bytes[std::size_t(offset)] | (f.bytes[std::size_t(offset + 1)] << 8);
    }

  private slots:
    void everyFrameMatchesTheReferenceList() {
        QFile file(qEnvironmentVariable("NORVIK3_SOURCE_DIR") +
                   QStringLiteral("/tests/comm/frames.txt"));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        const CommandTable& table = BuildCommandTable();
        std::set<QString> seen;
        while (!file.atEnd()) {
            const QStringList parts = QString::fromLatin1(file.readLine()).simplified().split(' ');
            if (parts.size() < 2)
                continue;
            QCOMPARE(parts.size(), 14);
            const CommandFrame* frame = table.byName(parts.at(0));
            QVERIFY2(frame, qPrintable(parts.at(0)));
            for (int i = 0; i < 13; ++i) {
                bool ok = false;
                const int expected = parts.at(i + 1).toInt(&ok, 16);
                QVERIFY(ok);
                QVERIFY2(frame->bytes[std::size_t(i)] == expected,
                         qPrintable(parts.at(0) + QStringLiteral(" byte ") + QString::number(i)));
            }
            QCOMPARE(frame->toByteArray().size(), 13);
            seen.insert(parts.at(0));
        }
        QCOMPARE(int(seen.size()), 56);
        for (const char* name : CommandTable::names())
            QVERIFY2(seen.count(QString::fromLatin1(name)), name);
        QVERIFY(!table.byName(QStringLiteral("PowerToggleCommand")));
    }

    void invariantsHoldForEveryFrame() {
        const CommandTable& table = BuildCommandTable();
        QCOMPARE(&table, &BuildCommandTable()); // built once, shared
        for (const char* name : CommandTable::names()) {
            const CommandFrame& f = *table.byName(QString::fromLatin1(name));
            const std::array<unsigned char, 5> header{0xBE, 0xEF, 0x03, 0x06, 0x00};
            QVERIFY2(std::equal(header.begin(), header.end(), f.bytes.begin()), name);
            const int action = word(f, FrameActionOffset);
            QVERIFY2(action == 1 || action == 2 || action == 4 || action == 5 || action == 6, name);
            const QString n = QString::fromLatin1(name);
            if (action != 1) {
                QVERIFY2(word(f, FrameValueOffset) == 0, name);
                continue;
            }
            // A set frame's value is the code its name selects.
            const auto codeOf = [&n](const QString& prefix) {
                return n.mid(prefix.size(), n.size() - prefix.size() - 7).toInt();
            };
            int expected = -1;
            if (n.startsWith(QStringLiteral("InputSet")))
                expected = codeOf(QStringLiteral("InputSet"));
            else if (n.startsWith(QStringLiteral("AspectSet")))
                expected = codeOf(QStringLiteral("AspectSet"));
            else if (n.endsWith(QStringLiteral("OnCommand")) ||
                     n == QStringLiteral("MirrorHInverseCommand"))
                expected = 1;
            else if (n.endsWith(QStringLiteral("OffCommand")) ||
                     n.endsWith(QStringLiteral("NormalCommand")))
                expected = 0;
            else if (n == QStringLiteral("MirrorVInverseCommand"))
                expected = 2;
            else if (n == QStringLiteral("MirrorHVInverseCommand"))
                expected = 3;
            QVERIFY2(expected >= 0, name);
            QVERIFY2(word(f, FrameValueOffset) == expected, name);
        }
    }

    void setFramesAddressTheSameItemAsTheirGetFrame() {
        const CommandTable& t = BuildCommandTable();
        QCOMPARE(word(t.InputSet6Command, FrameTypeOffset),
                 word(t.InputGetCommand, FrameTypeOffset));
        QCOMPARE(word(t.AspectSet16Command, FrameTypeOffset),
                 word(t.AspectGetCommand, FrameTypeOffset));
        QCOMPARE(word(t.AspectSet16Command, FrameTypeOffset), 0x2008);
        QCOMPARE(word(t.PowerOnCommand, FrameTypeOffset), 0x6000);
        QCOMPARE(word(t.BrightnessIncrementCommand, FrameTypeOffset),
                 word(t.BrightnessGetCommand, FrameTypeOffset));
        QCOMPARE(word(t.MirrorHVInverseCommand, FrameTypeOffset),
                 word(t.MirrorGetCommand, FrameTypeOffset));
        // The check field identifies nothing: two frames share 3E D3.
        QCOMPARE(word(t.AspectSet6Command, 5), word(t.BrightnessDecrementCommand, 5));
    }

    void aCopyIsIndependentOfTheTable() {
        const CommandTable& t = BuildCommandTable();
        QByteArray copy = t.PowerOnCommand.toByteArray();
        copy[11] = 0x00;
        QCOMPARE(t.PowerOnCommand.bytes[11], 0x01);
    }
};

QTEST_GUILESS_MAIN(TestCommandTable)
#include "test_command_table.moc"
