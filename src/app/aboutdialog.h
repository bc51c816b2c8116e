#pragma once

#include <QDialog>

class QGridLayout;
class QLabel;

// Product information and the open-source components with links to their
// licence pages.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(QWidget *parent = nullptr);

    // The folder of the licence pages: "doc" beside the executable, else the
    // installed one (share/nuvek/doc of the prefix), else the executable's folder.
    static QString licenceFolder(const QString &executableDir);

private:
    QString productInformation() const;
    QString contributions(const QString &licenceDir) const;

    QGridLayout *gridLayout;
    QLabel *labelLogo;
    QLabel *labelProductInformation;
    QLabel *labelContributions;
};
