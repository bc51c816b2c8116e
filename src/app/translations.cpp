#include "app/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

int installTranslations(QCoreApplication *app, const QLocale &locale)
{
    // The translations are built into the client library; a static library's resources
    // reach the program only when something refers to them.
    Q_INIT_RESOURCE(translations);
    struct Catalogue
    {
        const char *name;
        QString folder;
    };
    const Catalogue catalogues[] = {
        {"qtbase", QLibraryInfo::location(QLibraryInfo::TranslationsPath)},
        {"nuvek", QStringLiteral(":/translations")},
    };
    int installed = 0;
    for (const Catalogue &catalogue : catalogues) {
        auto *translator = new QTranslator(app);
        if (translator->load(locale, QLatin1String(catalogue.name), QStringLiteral("_"),
                             catalogue.folder)
            && app->installTranslator(translator)) {
            ++installed;
        } else {
            delete translator;
        }
    }
    return installed;
}
