#include "ui/FirstStartGuide.h"

#include <QAction>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

FirstStartGuide::FirstStartGuide(const std::array<QAction*, 4>& actions, QWidget* parent)
    : QFrame(parent) {
    setObjectName(QStringLiteral("frameFirstStart"));
    auto* title = new QLabel(QStringLiteral("No projectors yet"), this);
    title->setObjectName(QStringLiteral("lblFirstStartTitle"));
    QFont bigger = title->font();
    bigger.setBold(true);
    bigger.setPointSizeF(bigger.pointSizeF() * 1.25);
    title->setFont(bigger);
    auto* text =
        new QLabel(QStringLiteral("Start by adding a group or a projector, importing a CSV file of "
                                  "projectors, or finding the projectors on the network."),
                   this);
    text->setObjectName(QStringLiteral("lblFirstStartText"));
    text->setWordWrap(true);

    struct Choice {
        const char* name;
        const char* text;
        const char* help;
    };
    const std::array<Choice, 4> choices = {{
        {"cmdFirstAddGroup", "Add Group...", "Groups hold projectors, for example by floor."},
        {"cmdFirstAddProjector", "Add Projector...", "Its name, model and connection."},
        {"cmdFirstImport", "Import Projectors...",
         "A CSV file of projectors, as File > Export Projectors writes one."},
        {"cmdFirstFind", "Find Projectors...", "Looks for projectors on the local network."},
    }};
    auto* grid = new QGridLayout;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        auto* button = new QPushButton(QString::fromLatin1(choices[i].text), this);
        button->setObjectName(QString::fromLatin1(choices[i].name));
        button->setAutoDefault(false);
        auto* help = new QLabel(QString::fromLatin1(choices[i].help), this);
        help->setWordWrap(true);
        grid->addWidget(button, int(i), 0);
        grid->addWidget(help, int(i), 1);
        QAction* action = actions[i];
        button->setEnabled(action->isEnabled());
        connect(button, &QPushButton::clicked, action, &QAction::trigger);
        connect(action, &QAction::enabledChanged, button, &QPushButton::setEnabled);
    }
    grid->setColumnStretch(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->addWidget(title);
    layout->addWidget(text);
    layout->addSpacing(12);
    layout->addLayout(grid);
    layout->addStretch(1);
}
