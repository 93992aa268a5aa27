#include "platform/icon_theme.h"

#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QStandardPaths>

namespace IconTheme {

Choice choose(const QString &current, const QStringList &searchPaths, const QStringList &systemIconDirs)
{
    Choice choice{QString(), searchPaths};
    if (!current.isEmpty() && current != QLatin1String("hicolor"))
        return choice;
    for (const QString &dir : systemIconDirs) {
        if (!choice.searchPaths.contains(dir))
            choice.searchPaths.append(dir);
    }
    const QString fallback = QString::fromLatin1(kFallback);
    for (const QString &dir : choice.searchPaths) {
        if (QFileInfo::exists(QDir(dir).filePath(fallback + QStringLiteral("/index.theme")))) {
            choice.theme = fallback;
            break;
        }
    }
    return choice;
}

void installFallback()
{
    const QStringList systemDirs =
        QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                  QStandardPaths::LocateDirectory);
    const Choice choice = choose(QIcon::themeName(), QIcon::themeSearchPaths(), systemDirs);
    if (choice.theme.isEmpty())
        return;
    QIcon::setThemeSearchPaths(choice.searchPaths);
    QIcon::setThemeName(choice.theme);
}

} // namespace IconTheme
