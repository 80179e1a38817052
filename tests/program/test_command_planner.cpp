// The window's controls and the endpoint's command routes queue the same
// lines for the same request, for a projector of the own protocol, a PJLink
// class 1 and a PJLink class 2 projector, and for a group. The dispatcher
// stands still, so the queues are read as they were filled.

#include "ControlFixture.h"
#include "support/QueuedCommands.h"

#include "ui/ControlOperations.h"

#include <functional>

using WindowAction = std::function<void(ControlOperations&, int projector)>;
Q_DECLARE_METATYPE(WindowAction)

class TestCommandPlanner : public QObject {
    Q_OBJECT
    std::unique_ptr<ControlFleet> m_fleet;
    static constexpr int Own = 1, Class1 = 2, Class2 = 3;

    QList<QByteArray> queuedFor(const QList<int>& projectors) {
        QList<QByteArray> lines;
        for (int p : projectors)
            lines << QueuedCommands(m_fleet->state(), p);
        return lines;
    }
    void flush(const QList<int>& projectors) {
        for (int p : projectors)
            m_fleet->core.engine().FlushProjectorQueue(p);
    }

  private slots:
    void initTestCase() {
        m_fleet = std::make_unique<ControlFleet>();
        if (!m_fleet->isReady())
            QSKIP(qPrintable(m_fleet->problem()));
        QVERIFY(m_fleet->serving());
        QVERIFY(m_fleet->pass());
        m_fleet->core.engine().stopDispatcher();
        AppState& s = m_fleet->state();
        s.clock.set(QDateTime(QDate(2026, 12, 9), QTime(9, 0)));
        ProjectorInfo& class1 = s.Projectors[Class1];
        class1.Protocol = ProtocolPJLink;
        class1.PJLink.Class = 1;
        class1.PJLink.Inputs = {QStringLiteral("11"), QStringLiteral("31")};
        PJLinkFacts& class2 = s.Projectors[Class2].PJLink;
        class2.Class = 2;
        class2.Inputs = {QStringLiteral("11"), QStringLiteral("31"), QStringLiteral("3A")};
        class2.InputCode = QStringLiteral("3A");
        class2.InputName = QStringLiteral("Lobby PC");
    }
    void cleanupTestCase() { m_fleet.reset(); }

    void sameLinesFromWindowAndEndpoint_data() {
        QTest::addColumn<int>("projector"); // 0: the group "Hall" (projectors 1 and 2)
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("value");
        QTest::addColumn<WindowAction>("window");
        QTest::addColumn<int>("status"); // the endpoint's answer
        const auto row = [](int p, const QString& command, const QString& value,
                            const WindowAction& window, int status = 202) {
            QTest::addRow("%d %s %s", p, qPrintable(command), qPrintable(value))
                << p << command << value << window << status;
        };
        for (int p : {Own, Class1, Class2}) {
            for (bool on : {true, false}) {
                const QString value = on ? QStringLiteral("on") : QStringLiteral("off");
                row(p, "power", value, [on](ControlOperations& c, int q) { c.setPower(q, on); });
                row(p, "blank", value, [on](ControlOperations& c, int q) { c.setBlank(q, on); });
                row(p, "mute", value, [on](ControlOperations& c, int q) { c.setMute(q, on); });
                row(p, "whisper", value,
                    [on](ControlOperations& c, int q) { c.setWhisper(q, on); });
                row(
                    p, "freeze", value, [on](ControlOperations& c, int q) { c.setFreeze(q, on); },
                    p == Class2 ? 202 : 400);
            }
            const QStringList mirrors = {"normal", "horizontal", "vertical", "both"};
            for (int m = 0; m < mirrors.size(); ++m)
                row(p, "mirror", mirrors[m],
                    [m](ControlOperations& c, int q) { c.setMirror(q, m); });
            const QStringList pictures = {"brightness", "contrast", "color", "tint", "sharpness"};
            for (int item = 0; item < pictures.size(); ++item)
                for (bool up : {true, false})
                    row(p, pictures[item], up ? "up" : "down",
                        [item, up](ControlOperations& c, int q) {
                            c.stepPicture(q, PictureItem(item), up);
                        });
            row(p, "auto-adjust", {}, [](ControlOperations& c, int q) { c.autoAdjust(q); });
            row(p, "lamp-reset", {}, [](ControlOperations& c, int q) { c.resetLampTime(q); });
            row(p, "filter-reset", {}, [](ControlOperations& c, int q) { c.resetFilterTime(q); });
            for (const QString aspect : {"4:3", "16:9"})
                row(
                    p, "aspect", aspect,
                    [aspect](ControlOperations& c, int q) { c.setAspect(q, aspect); },
                    p == Own ? 202 : 400);
        }
        // The window's drop-down names an input by its text, a PJLink one by
        // its code; the endpoint by the text the window shows.
        for (const QString input : {"RGB", "HDMI"})
            row(Own, "input", input,
                [input](ControlOperations& c, int q) { c.setInput(q, input); });
        const QList<std::tuple<int, QString, QString>> pjlinkInputs = {{Class1, "11", "RGB 1"},
                                                                       {Class1, "31", "DIGITAL 1"},
                                                                       {Class2, "31", "DIGITAL 1"},
                                                                       {Class2, "3A", "Lobby PC"}};
        for (const auto& [p, code, text] : pjlinkInputs)
            row(p, "input", text,
                [code](ControlOperations& c, int q) { c.setPJLinkInput(q, code); });
        for (bool on : {true, false})
            row(0, "power", on ? "on" : "off",
                [this, on](ControlOperations& c, int) { c.groupPower(m_fleet->hall, on); });
    }

    void sameLinesFromWindowAndEndpoint() {
        QFETCH(int, projector);
        QFETCH(QString, command);
        QFETCH(QString, value);
        QFETCH(WindowAction, window);
        QFETCH(int, status);
        AppState& s = m_fleet->state();
        const QList<int> projectors =
            projector == 0 ? QList<int>{Own, Class1} : QList<int>{projector};
        flush(projectors);
        ControlOperations controls(s, m_fleet->core.engine());
        window(controls, projector);
        const QList<QByteArray> fromWindow = queuedFor(projectors);
        flush(projectors);

        QJsonObject body{{"command", command}, {"confirm", true}};
        if (!value.isEmpty())
            body["value"] = value;
        const QString path =
            projector == 0
                ? QStringLiteral("/api/v1/groups/Hall/commands")
                : QStringLiteral("/api/v1/projectors/%1/commands").arg(m_fleet->idOf(projector));
        s.clock.advance(1000); // never over the endpoint's rate
        const Answered answer = m_fleet->call("POST", path, OpsToken,
                                              QJsonDocument(body).toJson(QJsonDocument::Compact));
        QCOMPARE(answer.status, status);
        const QList<QByteArray> fromEndpoint = queuedFor(projectors);
        flush(projectors);

        QCOMPARE(fromEndpoint, fromWindow);
        // Every command reaches a projector of the own protocol, these a
        // PJLink one too.
        const bool pjlinkHasIt =
            QStringList{"power", "blank", "mute", "input", "freeze"}.contains(command);
        if (status == 202 && (projector == Own || pjlinkHasIt))
            QVERIFY(!fromWindow.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCommandPlanner)
#include "test_command_planner.moc"
