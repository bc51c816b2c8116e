#include "app/errorbox.h"

#include <QCoreApplication>
#include <QMessageBox>

// Texts that come from files, servers or the SSH log are shown as they are, not as markup.
static QString plainToRich(const QString &text)
{
    QString out = text;
    out.replace(QLatin1Char('&'), QLatin1String("&amp;"))
        .replace(QLatin1Char('<'), QLatin1String("&lt;"))
        .replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return out;
}

QMessageBox *showErrorBox(const QString &what, const QString &why, const QString &details)
{
    auto *box = new QMessageBox(QMessageBox::Warning,
                                QCoreApplication::translate("ErrorBox", "%1 Error")
                                    .arg(QCoreApplication::applicationName()),
                                QStringLiteral("%1<br><br>%2").arg(plainToRich(what), plainToRich(why)),
                                QMessageBox::Close);
    box->setObjectName(QStringLiteral("ErrorBox"));
    box->setTextFormat(Qt::RichText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // A message box is modal unless told otherwise; failures must not block other windows.
    box->setWindowModality(Qt::NonModal);
    if (!details.isEmpty())
        box->setDetailedText(details);
    box->show();
    return box;
}
