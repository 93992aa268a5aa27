#pragma once

#include <QString>
#include <QStringList>

// Icons looked up by theme name come from the desktop's theme. A session that names none (a bare
// window manager, or no display server at all) would only search "hicolor", which has next to none
// of them, and show blank buttons; there a complete theme installed on the system stands in.
namespace IconTheme {

inline constexpr const char *kFallback = "Adwaita";

// Call once, after the application object exists and before any icon is looked up. Leaves a theme
// the desktop chose alone.
void installFallback();

// The choice itself: the theme to switch to (empty = keep `current`) and the search paths to use.
struct Choice {
    QString theme;
    QStringList searchPaths;
};
Choice choose(const QString &current, const QStringList &searchPaths, const QStringList &systemIconDirs);

} // namespace IconTheme
