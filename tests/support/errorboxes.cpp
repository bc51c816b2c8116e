#include "support/errorboxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QStringList>

QList<QMessageBox *> visibleErrorBoxes()
{
    QList<QMessageBox *> boxes;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(widget)) {
            if (box->isVisible())
                boxes << box;
        }
    }
    return boxes;
}

QString visibleErrorBoxTexts()
{
    QStringList texts;
    for (QMessageBox *box : visibleErrorBoxes())
        texts << box->text() + QLatin1Char('\n') + box->detailedText();
    return texts.join(QLatin1String("\n----\n"));
}
