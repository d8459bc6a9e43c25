#pragma once

#include <QByteArray>
#include <QProcessEnvironment>

#include <optional>

// The Qt platform to run on when the user has not chosen one: "xcb" in a Wayland session that
// offers XWayland, since there the panel can place itself, stay on top and open the menu at
// the pointer (see the README). Nothing when the user chose (a non-empty QT_QPA_PLATFORM) or
// Qt's own choice is right. main() sets it as QT_QPA_PLATFORM before QApplication.
std::optional<QByteArray> preferredQtPlatform(const QProcessEnvironment& env);
