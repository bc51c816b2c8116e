#pragma once

#include <QList>
#include <QString>

class QMessageBox;

// The error boxes on screen now (visible top-level message boxes), oldest first.
QList<QMessageBox *> visibleErrorBoxes();

// Their texts, each followed by its details; for failure messages.
QString visibleErrorBoxTexts();
