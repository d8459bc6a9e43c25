#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <optional>

class NotePanel;
class Settings;

// The panel's life and place: it is made once, shown where it was put last (on a screen that
// is there now) or by the screen's top-right corner, pinned above other windows or not, and its
// place and height are remembered.
class NoteWindow : public QObject {
    Q_OBJECT

public:
    explicit NoteWindow(Settings& settings, QObject* parent = nullptr);
    ~NoteWindow() override;

    // Makes the panel; false when it was made already.
    bool build();
    NotePanel* panel() const;
    bool isShown() const;
    // Puts the panel in its place and in front (it does not take the keyboard).
    void show();
    void hide();
    void togglePin();
    bool pinned() const { return m_pinned; }
    // For desktops without a tray: the header offers the tray menu through a button.
    void setMenuButtonVisible(bool visible);
    // The header's title, and when the feed was updated, dimmed after it; `unsent` adds a
    // small gold dot: changes have waited over a minute for the relay.
    void setTitle(const QString& title, const std::optional<QString>& updated,
                  bool unsent = false);

signals:
    // The tray menu is wanted at this place (right click on the card, or the menu button).
    void menuRequested(const QPoint& globalPos);

private:
    void applyPin();
    void place();
    void rememberPlace();

    Settings& m_settings;
    QPointer<NotePanel> m_panel;
    bool m_pinned = false;
    bool m_menuButton = false;
    // The title shown, so an unchanged one is not laid out again.
    struct Title {
        QString text;
        std::optional<QString> updated;
        bool unsent = false;
        bool operator==(const Title&) const = default;
    };
    std::optional<Title> m_title;
    // A move by dragging ends when the moves stop; its place is written then, once.
    QTimer m_placeWriter;
};
