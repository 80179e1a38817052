#pragma once

class QDateTimeEdit;
class QLineEdit;

// Makes a pre-filled field easy to overwrite: entering it by Tab or by a
// click selects its text, so typing replaces it instead of running into the
// field's length limit. A paste that would not fit (Ctrl+V, the field's
// menu or the middle button) is refused rather than cut, and the field's
// tool tip says why.
void ReplaceOnEntry(QLineEdit* field);

// Typing into a time or date field whose whole text is selected fills it
// from its first section on ("05:05" is 05:05), as typing at its start
// does, instead of every digit landing in the last section.
void TypeFromFirstSection(QDateTimeEdit* field);
