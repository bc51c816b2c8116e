#pragma once

class QWidget;

// Brings a top-level window to the user: shows and activates it if hidden, raises and
// activates it if visible, restores it (and makes it active) if minimised.
void bringForward(QWidget *window);
