#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

namespace sim {

// The state of one simulated PJLink projector and its answer to one command
// line. Free of I/O and timers: the ends of warm-up and cool-down and the
// hour counting are driven from outside.
class PJLinkModel {
  public:
    enum Power { Off = 0, On = 1, CoolDown = 2, WarmUp = 3 };
    static constexpr int MaxLamps = 8;

    // The reply line (without its CR) to one command line such as
    // "%1POWR ?"; nothing for a line that is no command at all.
    std::optional<QByteArray> answer(const QByteArray& line);

    // One hour of use passes: lit lamps and the filter count up.
    void addHour();
    void finishWarmUp();
    void finishCoolDown();
    bool lampsLit() const { return power == On || power == WarmUp; }

    // A code the given command class may name: a digit 1-6 for the kind, then
    // 1-9, or with class 2 also A-Z.
    static bool isInputCode(const QByteArray& code, char commandClass);
    QByteArray inputName(const QByteArray& code) const;

    // "class=1 power=0 input=11 ..." for the control channel.
    QString describe() const;

    int pjClass = 1;
    int power = Off;
    QByteArray input = "11";
    QList<QByteArray> inputs{"11", "12", "21", "31", "32", "3A", "51"};
    QMap<QByteArray, QByteArray> inputNames;
    QByteArray name;
    QByteArray maker = "Sim Optics";
    QByteArray product = "PL-100";
    QByteArray info = "simulated projector";
    QByteArray serial;
    QByteArray version = "1.00";
    QByteArray mac;               // answered to a search by a class 2 projector
    QByteArray errors = "000000"; // fan, lamp, temperature, cover, filter, other
    QList<int> lamps{1200};
    int filter = 300;
    bool videoMute = false;
    bool audioMute = false;
    bool freeze = false;

    // Quirks of the replies.
    bool lowercase = false;  // every reply in lower case
    bool classText = false;  // CLSS answers "Class 1" instead of "1"
    bool wrongReply = false; // the next query gets another command's reply

  private:
    QByteArray value(char commandClass, const QByteArray& body, const QByteArray& param);
    QByteArray powerCommand(const QByteArray& param);
    QByteArray inputCommand(char commandClass, const QByteArray& param);
    QByteArray muteCommand(const QByteArray& param);
    QByteArray freezeCommand(const QByteArray& param);
    QByteArray lampValue() const;
    QByteArray inputList(char commandClass) const;
    QByteArray format(char commandClass, const QByteArray& body, const QByteArray& value) const;
};

} // namespace sim
