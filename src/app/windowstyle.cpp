#include "app/windowstyle.h"

#include <QIcon>
#include <QPushButton>
#include <QVariant>

QString listWindowStyleSheet()
{
    return QStringLiteral(
        "QTableView {\n"
        "  selection-background-color: #FFFFC0;\n"
        "  selection-color: black;\n"
        "}\n"
        "QPushButton[myFlat=\"true\"] {\n"
        "  border: 0px;\n"
        "  padding: 3px;\n"
        "}\n"
        "QPushButton[myFlat=\"true\"]::menu-indicator {\n"
        "  image: none;\n"
        "  width: 0px;\n"
        "  height: 0px;\n"
        "}\n"
        "QPushButton[myFlat=\"true\"]:hover {\n"
        "  border-color: gray;\n"
        "  border-radius: 3px;\n"
        "  border-style: outset;\n"
        "  border-width: 1px;\n"
        "}\n"
        "QPushButton[myFlat=\"true\"]:pressed, QPushButton[myFlat=\"true\"]:checked {\n"
        "  background-color: darkgray;\n"
        "  border-color: gray;\n"
        "  border-radius: 3px;\n"
        "  border-style: outset;\n"
        "  border-width: 1px;\n"
        "}\n"
        "QPushButton[myAction=\"true\"] {\n"
        "  background-color: #119ED1;\n"
        "  border-color: #119ED1;\n"
        "  border-radius: 3px;\n"
        "  border-style: solid;\n"
        "  padding: 3px;\n"
        "}\n"
        "QPushButton[myAction=\"true\"]:pressed {\n"
        "  background-color: #0486B8;\n"
        "}\n"
        "QPushButton[myAction=\"true\"]:disabled {\n"
        "  background-color: #60BCDE;\n"
        "}\n");
}

QPushButton *makeFlatButton(QWidget *parent, const char *objectName, const QString &icon, const QString &toolTip)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(QLatin1String(objectName));
    button->setFlat(true);
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(24, 24));
    button->setToolTip(toolTip);
    button->setProperty("myFlat", true);
    return button;
}
