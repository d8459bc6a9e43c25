#include "app/SessionPlatform.h"

std::optional<QByteArray> preferredQtPlatform(const QProcessEnvironment& env) {
    // Qt reads an empty QT_QPA_PLATFORM as unset, and so do we.
    if (!env.value(QStringLiteral("QT_QPA_PLATFORM")).isEmpty())
        return std::nullopt;
    const bool wayland = !env.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty() ||
                         env.value(QStringLiteral("XDG_SESSION_TYPE")) == QLatin1String("wayland");
    const bool xwayland = !env.value(QStringLiteral("DISPLAY")).isEmpty();
    if (wayland && xwayland)
        return QByteArrayLiteral("xcb");
    return std::nullopt;
}
