#include "ui/DialogPlacement.h"

#include "core/Formatting.h"

#include <QScreen>
#include <QWidget>

void CenterOnMainWindow(QWidget* dialog, const QWidget* mainWindow)
{
    if (!dialog || !mainWindow)
        return;
    dialog->adjustSize();
    const QScreen* screen = mainWindow->screen();
    const QSize screenSize = screen ? screen->size() : QSize(dialog->width(), dialog->height());
    dialog->move(CenteredPosition(mainWindow->frameGeometry(), dialog->frameGeometry().size(),
                                  screenSize));
}
