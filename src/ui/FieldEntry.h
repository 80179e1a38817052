#pragma once

class QLineEdit;

// Makes a pre-filled field easy to overwrite: entering it by Tab or by a
// click selects its text, so typing replaces it instead of running into the
// field's length limit; a paste that would not fit is refused with a beep
// rather than cut.
void ReplaceOnEntry(QLineEdit* field);
