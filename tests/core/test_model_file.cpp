#include "support/TestHome.h"

#include "core/AppState.h"
#include "core/ModelFile.h"

#include <memory>

class TestModelFile : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<AppState> load(const TestHome& home, const QByteArray& file) {
        home.write(QStringLiteral("PJModel.txt"), file);
        auto state = std::make_unique<AppState>();
        state->ProgramFolder = home.path();
        LoadModels(*state);
        return state;
    }

  private slots:
    void getFieldCases_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("n");
        QTest::addColumn<QString>("field");
        QTest::newRow("code") << "0;RGB 1" << 1 << "0";
        QTest::newRow("name") << "0;RGB 1" << 2 << "RGB 1";
        QTest::newRow("past the end") << "0;RGB 1" << 3 << "";
        QTest::newRow("comment cuts, blank stays") << "1;16:9 'wide" << 2 << "16:9 ";
        QTest::newRow("code before comment") << "1;16:9 'wide" << 1 << "1";
        QTest::newRow("field inside comment") << "1;x 'a;b" << 3 << "";
        QTest::newRow("leading apostrophe, code") << "'0;RGB" << 1 << "";
        QTest::newRow("leading apostrophe, name") << "'0;RGB" << 2 << "";
        QTest::newRow("HDMI comment") << "5;HDMI 'second input" << 2 << "HDMI ";
        QTest::newRow("empty fields") << ";;c" << 2 << "";
        QTest::newRow("third of three") << ";;c" << 3 << "c";
        QTest::newRow("no separator") << "abc" << 1 << "abc";
        QTest::newRow("zero") << "abc" << 0 << "";
        QTest::newRow("empty text") << "" << 1 << "";
        QTest::newRow("alert text message") << "2024/01/31 13:05;3;Lamp; error" << 3 << "Lamp";
    }

    void getFieldCases() {
        QFETCH(QString, text);
        QFETCH(int, n);
        QFETCH(QString, field);
        QCOMPARE(GetField(QStringLiteral(";"), text, n), field);
    }

    void entryCodes() {
        QCOMPARE(ModelEntryCode("5;HDMI 'second input"), std::optional<int>(5));
        QCOMPARE(ModelEntryCode(" 16 ;Full"), std::optional<int>(16));
        QCOMPARE(ModelEntryCode("3x;Odd"), std::optional<int>(3));
        QCOMPARE(ModelEntryCode("x;Bad"), std::optional<int>());
        QCOMPARE(ModelEntryCode("'0;all comment"), std::optional<int>());
        QCOMPARE(ModelEntryCode(""), std::optional<int>());
    }

    void readsModelsAndTheirSections() {
        TestHome home;
        const auto state =
            load(home, "[model]\r\nnum=2\r\nModel_001=A\r\nMODEL_002 = B x \r\n"
                       "[A]\r\nInputNum=2\r\nInput_001=0;RGB 1\r\nInput_002=5;HDMI 'second\r\n"
                       "AspectNum=1\r\nAspect_001=16;Native\r\nNetwork=1\r\nNetworkPort=23\r\n"
                       "[b x]\nInputNum=1\ninput_001=2;Video\n");
        QCOMPARE(state->ModelCount, qint16(2));
        const ModelInfo& a = state->Models[1];
        QCOMPARE(a.Name, QStringLiteral("A"));
        QCOMPARE(a.InputNum, qint16(2));
        QCOMPARE(a.Input[2], QStringLiteral("5;HDMI 'second"));
        QCOMPARE(GetField(QStringLiteral(";"), a.Input[2], 2), QStringLiteral("HDMI "));
        QCOMPARE(a.AspectNum, qint16(1));
        QCOMPARE(a.Aspect[1], QStringLiteral("16;Native"));
        QCOMPARE(a.Network, qint16(1));
        QCOMPARE(a.NetworkPort, qint16(23));
        const ModelInfo& b = state->Models[2];
        QCOMPARE(b.Name, QStringLiteral("B x"));
        QCOMPARE(b.Input[1], QStringLiteral("2;Video"));
        QCOMPARE(b.AspectNum, qint16(0));
        QCOMPARE(b.Network, qint16(0));
        QCOMPARE(FindModel(*state, QStringLiteral("B x")), &state->Models[2]);
        QVERIFY(!FindModel(*state, QStringLiteral("b x"))); // exact comparison
    }

    void missingKeysGiveDefaults() {
        TestHome home;
        const auto state = load(home, "[MODEL]\nNum=3\nModel_001=A\nModel_003=C\n"
                                      "[A]\nInputNum=3\nInput_001=0;RGB\nInput_003=1;DVI\n"
                                      "[C]\nAspectNum=1\nAspect_001=0;4:3\n");
        QCOMPARE(state->ModelCount, qint16(3));
        QCOMPARE(state->Models[1].Input[2], QString());
        QCOMPARE(state->Models[1].Input[3], QStringLiteral("1;DVI"));
        QVERIFY(state->Models[2].Name.isEmpty());
        QCOMPARE(state->Models[2].InputNum, qint16(0));
        QCOMPARE(state->Models[3].Name, QStringLiteral("C"));
        QCOMPARE(state->Models[3].Aspect[1], QStringLiteral("0;4:3"));
    }

    void countsAreCutToTheTables() {
        TestHome home;
        QByteArray file = "[MODEL]\nNum=70\n";
        for (int n = 1; n <= 70; ++n)
            file +=
                QStringLiteral("Model_%1=M%2\n").arg(n, 3, 10, QLatin1Char('0')).arg(n).toUtf8();
        file += "[M64]\nInputNum=20\nAspectNum=99\n";
        for (int k = 1; k <= 20; ++k)
            file += QStringLiteral("Input_%1=%2;In %2\nAspect_%1=%2;As %2\n")
                        .arg(k, 3, 10, QLatin1Char('0'))
                        .arg(k)
                        .toUtf8();
        const auto state = load(home, file);
        QCOMPARE(state->ModelCount, qint16(64));
        QCOMPARE(state->Models[64].Name, QStringLiteral("M64"));
        QCOMPARE(state->Models[64].InputNum, qint16(16));
        QCOMPARE(state->Models[64].AspectNum, qint16(16));
        QCOMPARE(state->Models[64].Input[16], QStringLiteral("16;In 16"));
    }

    // Every key of a full file lands in its own model: 64 models with 16
    // inputs and 16 aspects each, CR LF line ends, sections in another order
    // than the models and a later duplicate of a section that is ignored.
    void fullFileReadWhole() {
        TestHome home;
        QByteArray file = "\xEF\xBB\xBF[MODEL]\r\nNum=64\r\n";
        for (int n = 1; n <= MaxModels; ++n)
            file += QStringLiteral("Model_%1= Série [%2] \r\n")
                        .arg(n, 3, 10, QLatin1Char('0'))
                        .arg(n)
                        .toUtf8();
        for (int n = MaxModels; n >= 1; --n) {
            file +=
                QStringLiteral("[série [%1]]\r\ninputnum=16\r\nASPECTNUM=16\r\n").arg(n).toUtf8();
            for (int k = 1; k <= MaxModelEntries; ++k)
                file += QStringLiteral("Input_%1=%2;In %3.%1\r\nAspect_%1 = %4;As %3.%1 'x\r\n")
                            .arg(k, 3, 10, QLatin1Char('0'))
                            .arg(k % 7)
                            .arg(n)
                            .arg(k % 8)
                            .toUtf8();
            file += QStringLiteral("Network=%1\r\nNetworkPort=%2\r\n")
                        .arg(n % 2)
                        .arg(1000 + n)
                        .toUtf8();
        }
        file += "[Série [1]]\r\nInputNum=1\r\nNetworkPort=1\r\n";
        const auto state = load(home, file);
        QCOMPARE(state->ModelCount, qint16(MaxModels));
        for (int n = 1; n <= MaxModels; ++n) {
            const ModelInfo& m = state->Models[n];
            QCOMPARE(m.Name, QStringLiteral("Série [%1]").arg(n));
            QCOMPARE(m.InputNum, qint16(MaxModelEntries));
            QCOMPARE(m.AspectNum, qint16(MaxModelEntries));
            for (int k = 1; k <= MaxModelEntries; ++k) {
                const QString number = QStringLiteral("%1").arg(k, 3, 10, QLatin1Char('0'));
                QCOMPARE(m.Input[k], QStringLiteral("%1;In %2.%3").arg(k % 7).arg(n).arg(number));
                QCOMPARE(m.Aspect[k],
                         QStringLiteral("%1;As %2.%3 'x").arg(k % 8).arg(n).arg(number));
            }
            QCOMPARE(m.Network, qint16(n % 2));
            QCOMPARE(m.NetworkPort, qint16(1000 + n));
        }
    }

    void badFilesGiveNoModels_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("non-numeric count") << QByteArray("[MODEL]\nNum=many\nModel_001=A\n");
        QTest::newRow("negative count") << QByteArray("[MODEL]\nNum=-3\nModel_001=A\n");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("garbage") << QByteArray("\x00\xFF\x01[MODEL\n==\n", 12);
    }

    void badFilesGiveNoModels() {
        QFETCH(QByteArray, file);
        TestHome home;
        const auto state = load(home, file);
        QCOMPARE(state->ModelCount, qint16(0));
        QVERIFY(state->Models[1].Name.isEmpty());
    }

    void missingFileClearsTheTable() {
        TestHome home;
        AppState state;
        state.ProgramFolder = home.path();
        state.Models[3].Name = QStringLiteral("stale");
        state.ModelCount = 3;
        LoadModels(state);
        QCOMPARE(state.ModelCount, qint16(0));
        QVERIFY(state.Models[3].Name.isEmpty());
    }

    void shippedSampleIsValid() {
        AppState state;
        LoadModels(state, qEnvironmentVariable("NORVIK3_SOURCE_DIR") +
                              QStringLiteral("/data/PJModel.txt"));
        QVERIFY(state.ModelCount >= 3 && state.ModelCount <= 4);
        bool lan = false;
        bool aspect16 = false;
        for (int n = 1; n <= state.ModelCount; ++n) {
            const ModelInfo& m = state.Models[n];
            QVERIFY(!m.Name.isEmpty() && m.InputNum > 0);
            for (int k = 1; k <= m.InputNum; ++k) {
                const int code = GetField(QStringLiteral(";"), m.Input[k], 1).toInt();
                QVERIFY(code >= 0 && code <= 6);
            }
            for (int k = 1; k <= m.AspectNum; ++k)
                aspect16 |= GetField(QStringLiteral(";"), m.Aspect[k], 1) == QStringLiteral("16");
            lan |= m.Network == 1 && m.NetworkPort == 23;
        }
        QVERIFY(lan);
        QVERIFY(aspect16);
    }
};

QTEST_GUILESS_MAIN(TestModelFile)
#include "test_model_file.moc"
