#pragma once

#include <QString>

class QMessageBox;

// The one way failures are shown: a non-modal warning box titled "<application> Error",
// with no parent, a Close button, deleted when closed. `what` says what failed and
// `why` the reason; `details` (the SSH log of a link, say) goes into the detailed text.
// Returns the box, already shown.
QMessageBox *showErrorBox(const QString &what, const QString &why,
                          const QString &details = QString());
