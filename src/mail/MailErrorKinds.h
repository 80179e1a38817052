#pragma once

#include "core/AppState.h"

#include <array>

// The ten alert kinds of the "Select Errors" frame: check box, its "..."
// button and the message text it edits.
struct MailErrorKind {
    int number;               // 1..9 error codes, 9999 Disconnect
    const char* role;         // object names chk<role> and cmd<role>Message
    const char* caption;      // caption of the check box
    const char* textName;     // settings value name of the message text
    bool MailSettings::*send;
    QString MailSettings::*text;
};

inline constexpr std::array<MailErrorKind, 10> MailErrorKinds = {{
    {1, "CoverError", "Cover Error", "CoverErrorText", &MailSettings::CoverErrorSend,
     &MailSettings::CoverErrorText},
    {2, "FanError", "Fan Error", "FanErrorText", &MailSettings::FanErrorSend,
     &MailSettings::FanErrorText},
    {3, "LampError", "Lamp Error", "LampErrorText", &MailSettings::LampErrorSend,
     &MailSettings::LampErrorText},
    {4, "TempError", "Temp Error", "TempErrorText", &MailSettings::TempErrorSend,
     &MailSettings::TempErrorText},
    {5, "AirFlowError", "Air Flow Error", "AirFlowErrorText", &MailSettings::AirFlowErrorSend,
     &MailSettings::AirFlowErrorText},
    {6, "LampTimeOver", "Lamp Time Over", "LampTimeOverText", &MailSettings::LampTimeOverSend,
     &MailSettings::LampTimeOverText},
    {7, "CoolError", "Cool Error", "CoolErrorText", &MailSettings::CoolErrorSend,
     &MailSettings::CoolErrorText},
    {8, "FilterError", "Filter Error", "FilterErrorText", &MailSettings::FilterErrorSend,
     &MailSettings::FilterErrorText},
    {9, "OtherError", "Other Error", "OtherErrorText", &MailSettings::OtherErrorSend,
     &MailSettings::OtherErrorText},
    {9999, "Disconnect", "Disconnect", "DisconnectText", &MailSettings::DisconnectSend,
     &MailSettings::DisconnectText},
}};
