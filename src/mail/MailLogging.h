#pragma once

#include <QLoggingCategory>

// Diagnostics of the mail module (separate from the program's mail log).
Q_DECLARE_LOGGING_CATEGORY(lcMail)
