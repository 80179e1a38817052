#pragma once

class QWidget;

// Places a dialog centred over the main window and inside the screen.
void CenterOnMainWindow(QWidget* dialog, const QWidget* mainWindow);
