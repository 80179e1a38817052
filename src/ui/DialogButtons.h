#pragma once

class QDialog;
class QDialogButtonBox;
class QPushButton;

// The "OK" (cmdOK, the default button) and "Cancel" (cmdCancel) buttons that
// every dialog of the program ends with, in a button box the dialog owns.
// Callers connect the buttons themselves: "OK" checks before it closes.
struct OkCancelButtons {
    QPushButton* ok;
    QPushButton* cancel;
    QDialogButtonBox* box;
};

OkCancelButtons AddOkCancelButtons(QDialog* dialog);
