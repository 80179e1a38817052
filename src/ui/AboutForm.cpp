#include "ui/AboutForm.h"

#include "ui/DialogPlacement.h"
#include "ui/Icons.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

AboutForm::AboutForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("About Lumora Application"));
    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("imgLogo"));
    image->setPixmap(ProgramIcon(IconKind::Projector).pixmap(32, 32));
    auto* title = new QLabel(QStringLiteral("Lumora Application"), this);
    title->setObjectName(QStringLiteral("lblTitle"));
    auto* version = new QLabel(QStringLiteral("Ver.3.0.0.4"), this);
    version->setObjectName(QStringLiteral("lblVersion"));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);

    auto* grid = new QGridLayout(this);
    grid->addWidget(image, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(title, 0, 1);
    grid->addWidget(version, 1, 1);
    grid->addWidget(ok, 2, 0, 1, 2, Qt::AlignRight);
    grid->setHorizontalSpacing(16);

    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    CenterOnMainWindow(this, parent);
}
