#include "note/NoteWindow.h"

#include "note/NoteLayout.h"
#include "note/NotePanel.h"
#include "note/NoteViews.h"
#include "support/Settings.h"
#include "support/Theme.h"

#include <QGuiApplication>
#include <QScreen>

using namespace std::chrono_literals;

NoteWindow::NoteWindow(Settings& settings, QObject* parent)
    : QObject(parent), m_settings(settings), m_pinned(settings.notePinned()) {
    m_placeWriter.setSingleShot(true);
    m_placeWriter.setInterval(400ms);
    connect(&m_placeWriter, &QTimer::timeout, this, &NoteWindow::rememberPlace);
}

NoteWindow::~NoteWindow() {
    delete m_panel;
}

NotePanel* NoteWindow::panel() const {
    return m_panel;
}

bool NoteWindow::build() {
    if (m_panel)
        return false;
    m_panel = new NotePanel(m_settings.noteHeight());
    NotePanel* p = m_panel;
    p->setMenuButtonVisible(m_menuButton);
    connect(p->closeButton(), &QAbstractButton::clicked, this, &NoteWindow::hide);
    connect(p->pinButton(), &QAbstractButton::clicked, this, &NoteWindow::togglePin);
    connect(p->resizeHandle(), &ResizeHandle::resizeFinished, this,
            [this](double height) { m_settings.setNoteH(height); });
    connect(p, &NotePanel::movedByUser, &m_placeWriter, qOverload<>(&QTimer::start));
    connect(p, &NotePanel::menuRequested, this, &NoteWindow::menuRequested);
    applyPin();
    return true;
}

bool NoteWindow::isShown() const {
    return m_panel && m_panel->isVisible();
}

void NoteWindow::show() {
    if (!m_panel)
        return;
    place();
    m_panel->show();
    m_panel->raise();
}

void NoteWindow::hide() {
    if (m_panel)
        m_panel->hide();
}

void NoteWindow::place() {
    const QSize size = m_panel->size();
    if (const auto stored = m_settings.notePos()) {
        if (const auto topLeft = parseNotePos(*stored)) {
            // Only a place on a screen that is there now: a monitor may have been unplugged.
            const QRect panel(topLeft->toPoint(), size);
            for (const QScreen* screen : QGuiApplication::screens()) {
                if (screen->availableGeometry().intersects(panel)) {
                    m_panel->place(panel.topLeft());
                    return;
                }
            }
        }
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        m_panel->place(defaultNoteTopLeft(screen->availableGeometry(), size).toPoint());
}

void NoteWindow::rememberPlace() {
    if (m_panel)
        m_settings.setNotePos(formatNotePos(m_panel->pos()));
}

void NoteWindow::togglePin() {
    m_pinned = !m_pinned;
    m_settings.setNotePinned(m_pinned);
    applyPin();
}

void NoteWindow::applyPin() {
    if (!m_panel)
        return;
    m_panel->setPinned(m_pinned);
    QColor tint = m_pinned ? C_VL_GOLD : C_VL_TXT;
    if (!m_pinned)
        tint.setAlphaF(0.55f);
    m_panel->pinButton()->setGlyph(m_pinned ? NoteGlyph::PinFill : NoteGlyph::Pin, tint);
    m_panel->pinButton()->setAccessibleName(QStringLiteral("置顶"));
}

void NoteWindow::setMenuButtonVisible(bool visible) {
    m_menuButton = visible;
    if (m_panel)
        m_panel->setMenuButtonVisible(visible);
}

void NoteWindow::setTitle(const QString& title, const std::optional<QString>& updated,
                          bool unsent) {
    const Title wanted{title, updated, unsent};
    if (!m_panel || m_title == wanted)
        return;
    m_title = wanted;
    StyledText text;
    text.font = noteFont(NOTE_FONT_TITLE, QFont::Bold);
    text.append(title, text.font, C_VL_TXT);
    if (updated)
        text.append(QStringLiteral("\u3000") + *updated, noteFont(10), C_VL_TXT_DIM);
    if (unsent)
        text.append(QStringLiteral(" \u25CF"), noteFont(8), C_VL_GOLD);
    m_panel->title()->setText(text);
}

#include "moc_NoteWindow.cpp"
