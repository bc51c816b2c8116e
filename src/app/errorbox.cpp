#include "app/errorbox.h"

#include <QCoreApplication>
#include <QMessageBox>

QMessageBox *showErrorBox(const QString &what, const QString &why, const QString &details)
{
    auto *box = new QMessageBox(QMessageBox::Warning,
                                QCoreApplication::translate("ErrorBox", "%1 Error")
                                    .arg(QCoreApplication::applicationName()),
                                QStringLiteral("%1<br><br>%2").arg(what, why),
                                QMessageBox::Close);
    box->setObjectName(QStringLiteral("ErrorBox"));
    box->setTextFormat(Qt::RichText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (!details.isEmpty())
        box->setDetailedText(details);
    box->show();
    return box;
}
