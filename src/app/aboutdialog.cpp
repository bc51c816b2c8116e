#include "app/aboutdialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <QSpacerItem>
#include <QUrl>

namespace {

const char MakerWebSite[] = "https://www.ostrane.example";

struct Component
{
    const char *name;
    const char *webSite;
    const char *licenceFile;
};

const Component Components[] = {
    {"Qt", "https://www.qt.io", "Qt License.html"},
    {"Qt Solutions", "https://github.com/qtproject/qt-solutions", "Qt Solutions License.html"},
    {"FreeRDP", "https://www.freerdp.com", "FreeRDP License.html"},
    {"PuTTY", "https://www.chiark.greenend.org.uk/~sgtatham/putty/", "PuTTY License.html"},
    {"OpenSSL", "https://www.openssl.org", "OpenSSL License.html"},
    {"Ion Icons", "https://ionic.io/ionicons", "Ion Icons License.html"},
};

void setUpInfoLabel(QLabel *label)
{
    label->setOpenExternalLinks(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard
                                   | Qt::LinksAccessibleByMouse);
}

QString link(const QString &target, const QString &text)
{
    return QStringLiteral("<a href=\"%1\"><span style=\"font-size:medium; "
                          "text-decoration:underline; color:#0000ff;\">%2</span></a>")
        .arg(target.toHtmlEscaped(), text.toHtmlEscaped());
}

} // namespace

AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutDialog"));
    resize(640, 440);

    gridLayout = new QGridLayout(this);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    gridLayout->setSpacing(6);
    gridLayout->setContentsMargins(11, 11, 11, 11);

    labelLogo = new QLabel(this);
    labelLogo->setObjectName(QStringLiteral("labelLogo"));
    labelLogo->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    labelLogo->setPixmap(QPixmap(QStringLiteral(":/images/resources/Nuvek_logo.png")));
    labelLogo->setAlignment(Qt::AlignLeading | Qt::AlignLeft | Qt::AlignTop);
    gridLayout->addWidget(labelLogo, 0, 0, 5, 1);

    labelProductInformation = new QLabel(this);
    labelProductInformation->setObjectName(QStringLiteral("labelProductInformation"));
    labelProductInformation->setText(tr("PRODUCT INFORMATION"));
    setUpInfoLabel(labelProductInformation);
    gridLayout->addWidget(labelProductInformation, 0, 1);

    labelContributions = new QLabel(this);
    labelContributions->setObjectName(QStringLiteral("labelContributions"));
    labelContributions->setText(tr("CONTRIBUTIONS"));
    setUpInfoLabel(labelContributions);
    gridLayout->addWidget(labelContributions, 1, 1);

    gridLayout->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding), 5, 0);
    gridLayout->addItem(new QSpacerItem(20, 20, QSizePolicy::Minimum, QSizePolicy::Expanding), 2, 1,
                        4, 1);

    QMetaObject::connectSlotsByName(this);

    setWindowFlags(windowFlags() | Qt::MSWindowsFixedSizeDialogHint);
    labelProductInformation->setText(productInformation());
    labelContributions->setText(
        contributions(licenceFolder(QCoreApplication::applicationDirPath())));
}

QString AboutDialog::licenceFolder(const QString &executableDir)
{
    const QDir folder(executableDir);
    // Beside the program (build tree, portable copies), then where an installation keeps them.
    for (const QString &relative : {QStringLiteral("doc"), QStringLiteral(NUVEK_INSTALLED_DOC_DIR)}) {
        const QString doc = folder.filePath(relative);
        if (QFileInfo(doc).isDir())
            return QDir::cleanPath(QDir(doc).absolutePath());
    }
    return folder.absolutePath();
}

QString AboutDialog::productInformation() const
{
    const QString medium = QStringLiteral("<span style=\"font-size:medium;\">%1</span>");
    const QStringList lines = {
        QStringLiteral("<span style=\"font-size:x-large; font-weight:bold;\">%1</span>")
            .arg(QCoreApplication::applicationName().toHtmlEscaped()),
        medium.arg(QCoreApplication::applicationVersion().toHtmlEscaped()),
        medium.arg(tr("Copyright © %1").arg(QCoreApplication::organizationName()).toHtmlEscaped()),
        link(QLatin1String(MakerWebSite), QCoreApplication::organizationName()),
    };
    return QStringLiteral("<html><body>%1</body></html>").arg(lines.join(QStringLiteral("<br>")));
}

QString AboutDialog::contributions(const QString &licenceDir) const
{
    QStringList entries;
    for (const Component &component : Components) {
        // A proper file URL: the path is percent-encoded and not given a fourth slash.
        const QString licence =
            QUrl::fromLocalFile(QDir(licenceDir).filePath(QLatin1String(component.licenceFile)))
                .toString(QUrl::FullyEncoded);
        entries << link(QLatin1String(component.webSite), QLatin1String(component.name))
                       + QStringLiteral("<span style=\"font-size:medium;\"> [</span>")
                       + link(licence, tr("license"))
                       + QStringLiteral("<span style=\"font-size:medium;\">]</span>");
    }
    return QStringLiteral("<html><body><span style=\"font-size:medium; font-weight:bold;\">%1"
                          "</span><br>%2</body></html>")
        .arg(tr("Open Source Software"), entries.join(QStringLiteral("<br>")));
}
