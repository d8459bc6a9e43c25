#include "support/Settings.h"

#include "support/Theme.h"

#include <QSettings>
#include <cmath>

namespace {
const QString kPinned = QStringLiteral("notePinned");
const QString kHeight = QStringLiteral("noteH");
const QString kPos = QStringLiteral("notePos");
} // namespace

bool Settings::notePinned() const {
    const QVariant v = m_store.value(kPinned);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString();
        if (s == QLatin1String("true"))
            return true;
    }
    return false;
}

double Settings::noteH() const {
    const QVariant v = m_store.value(kHeight);
    double value = 0;
    bool ok = false;
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::LongLong:
        value = v.toDouble(&ok);
        break;
    case QMetaType::QString:
        value = v.toString().toDouble(&ok);
        break;
    default:
        break;
    }
    return ok && std::isfinite(value) ? value : 0;
}

double Settings::noteHeight() const {
    const double stored = noteH();
    return stored >= NOTE_MIN_H ? stored : NOTE_H;
}

std::optional<QString> Settings::notePos() const {
    const QVariant v = m_store.value(kPos);
    if (v.typeId() != QMetaType::QString)
        return std::nullopt;
    return v.toString();
}

void Settings::setNotePinned(bool pinned) {
    m_store.setValue(kPinned, pinned);
}

void Settings::setNoteH(double height) {
    m_store.setValue(kHeight, height);
}

void Settings::setNotePos(const QString& pos) {
    m_store.setValue(kPos, pos);
}
