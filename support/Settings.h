#pragma once

#include <QString>
#include <optional>

class QSettings;

// The three values Velloa keeps between runs, all the note panel's. Qt's INI backend hands
// bools and doubles back as strings after a restart, and a lenient conversion would read "abc"
// as true or as 0, so every value is read strictly: one that cannot be read counts as absent.
class Settings {
public:
    explicit Settings(QSettings& store) : m_store(store) {}

    bool notePinned() const;                // false when absent
    double noteH() const;                   // 0 when absent
    double noteHeight() const;              // noteH, or NOTE_H when it is below NOTE_MIN_H
    std::optional<QString> notePos() const; // the saved place, for the panel to parse

    void setNotePinned(bool pinned);
    void setNoteH(double height);
    void setNotePos(const QString& pos);

private:
    QSettings& m_store;
};
