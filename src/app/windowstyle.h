#pragma once

#include <QString>

class QPushButton;
class QWidget;

// Style sheet of the list windows: selected table rows in pale yellow with black
// text, and the two button looks chosen by dynamic properties, "myFlat" (flat tool
// buttons with a grey outset border on hover, dark grey when pressed or checked) and
// "myAction" (blue action buttons).
QString listWindowStyleSheet();

// A flat tool button with a 24 x 24 icon in the "myFlat" look.
QPushButton *makeFlatButton(QWidget *parent, const char *objectName, const QString &icon,
                            const QString &toolTip = QString());
