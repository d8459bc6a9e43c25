#pragma once

class QMessageBox;
class QString;

// What every alert of the app looks like: its name as the title, its own picture as the icon,
// a message and an informative text.
void setUpAlert(QMessageBox& box, const QString& text, const QString& informative);

// A tray app has no window of its own in front: the box raises and activates itself, then runs
// modally until it is answered.
void execInFront(QMessageBox& box);
