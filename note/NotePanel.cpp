#include "note/NotePanel.h"

#include "note/NoteLayout.h"
#include "note/NoteViews.h"
#include "support/Theme.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

ResizeHandle::ResizeHandle(QWidget* parent) : QWidget(parent) {
    setCursor(Qt::SizeVerCursor);
}

void ResizeHandle::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    QWidget* panel = window();
    m_startH = panel->height();
    m_startMouseY = event->globalPosition().y();
    m_startFrame = panel->geometry();
    m_pressed = true;
}

void ResizeHandle::mouseMoveEvent(QMouseEvent* event) {
    if (!m_pressed)
        return;
    QWidget* panel = window();
    // Screens here count y downwards: moving the pointer down makes dy positive.
    const double dy = event->globalPosition().y() - m_startMouseY;
    const QScreen* screen = panel->screen() ? panel->screen() : QGuiApplication::primaryScreen();
    const double maxH = screen ? screen->availableGeometry().height() : 1200;
    const int h = int(std::lround(resizedHeight(m_startH, dy, maxH)));
    panel->setGeometry(m_startFrame.x(), m_startFrame.y(), m_startFrame.width(), h);
}

void ResizeHandle::mouseReleaseEvent(QMouseEvent*) {
    if (!m_pressed)
        return;
    m_pressed = false;
    emit resizeFinished(window()->height());
}

NotePanel::NotePanel(double height, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    // A tool window of an app that is hardly ever the active one would otherwise be hidden
    // on macOS whenever another app is in front.
    setAttribute(Qt::WA_MacAlwaysShowToolWindow);
    setWindowTitle(QStringLiteral("维洛清单"));
    resize(int(NOTE_W), int(height));

    m_background = new NoteBackground(this);
    makeButtonsAndField();
    makeList();

    connect(m_menuButton, &QAbstractButton::clicked, this, [this] {
        emit menuRequested(m_menuButton->mapToGlobal(QPoint(0, m_menuButton->height())));
    });
    m_background->installEventFilter(this);
    m_stack->installEventFilter(this);
    layoutViews();
}

void NotePanel::makeButtonsAndField() {
    m_resizeHandle = new ResizeHandle(m_background);
    m_closeButton = new NoteButton(m_background);
    m_closeButton->setGlyph(NoteGlyph::XMark, [] {
        QColor c = C_VL_TXT;
        c.setAlphaF(0.62f);
        return c;
    }());
    m_closeButton->setAccessibleName(QStringLiteral("关闭"));
    m_pinButton = new NoteButton(m_background);
    m_pinButton->setToolTip(QStringLiteral("置顶（点一下钉在最上层，再点恢复）"));
    m_menuButton = new NoteButton(m_background);
    m_menuButton->setGlyph(NoteGlyph::Menu, [] {
        QColor c = C_VL_TXT;
        c.setAlphaF(0.62f);
        return c;
    }());
    m_menuButton->setAccessibleName(QStringLiteral("菜单"));
    m_menuButton->hide();
    m_title = new PassthroughLabel(m_background);
    m_pill = new PillView(m_background);
    m_input = new NoteField(m_background);
    m_input->setAccessibleName(QStringLiteral("新建任务"));
    m_addButton = new NoteButton(m_background);
    QColor gold = C_VL_GOLD;
    gold.setAlphaF(0.9f);
    m_addButton->setGlyph(NoteGlyph::ArrowUpCircleFill, gold);
    m_addButton->setAccessibleName(QStringLiteral("添加"));
    m_addButton->setToolTip(QStringLiteral("添加任务"));
}

void NotePanel::makeList() {
    m_scroll = new QScrollArea(m_background);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setFocusPolicy(Qt::NoFocus); // the list inside takes the keyboard
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->setWidgetResizable(false);
    // The card shows through the list: nothing in the scroll area paints a background, and the
    // scroller is a thin translucent bar like the overlay scrollers of macOS.
    m_scroll->setStyleSheet(QStringLiteral(
        "QScrollArea, QScrollArea > QWidget { background: transparent; }"
        "QScrollBar:vertical { background: transparent; width: 8px; margin: 2px 0 2px 0; }"
        "QScrollBar::handle:vertical { background: rgba(255, 255, 255, 70); border-radius: 3px;"
        " min-height: 24px; margin: 0 1px 0 1px; }"
        "QScrollBar::handle:vertical:hover { background: rgba(255, 255, 255, 120); }"
        "QScrollBar::add-line, QScrollBar::sub-line { height: 0; }"
        "QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }"));
    m_stack = new FlippedView;
    m_scroll->setWidget(m_stack);
    // setWidget turns the document's own background on; the card is the background.
    m_stack->setAutoFillBackground(false);
    m_scroll->viewport()->setAutoFillBackground(false);
}

void NotePanel::setMenuButtonVisible(bool visible) {
    m_menuButton->setVisible(visible);
    layoutViews();
}

void NotePanel::setPinned(bool pinned) {
    if (isPinned() == pinned)
        return;
    const bool wasVisible = isVisible();
    const QPoint where = pos();
    // Changing the flag hides the window; show it again where it was.
    setWindowFlag(Qt::WindowStaysOnTopHint, pinned);
    if (wasVisible) {
        place(where);
        show();
    }
}

bool NotePanel::isPinned() const {
    return windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

void NotePanel::place(const QPoint& topLeft) {
    m_placing = true;
    move(topLeft);
    m_placing = false;
}

void NotePanel::resizeEvent(QResizeEvent*) {
    layoutViews();
    emit resized();
}

void NotePanel::moveEvent(QMoveEvent*) {
    if (!m_placing && isVisible())
        emit movedByUser();
}

bool NotePanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ContextMenu && (watched == m_background || watched == m_stack)) {
        emit menuRequested(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void NotePanel::layoutViews() {
    const double h = height();
    const FlipY flip{h};
    const NoteFrames f = noteFrames(h, m_menuButton->isVisibleTo(this));
    const auto place = [&](QWidget* w, const QRectF& r) { w->setGeometry(flip.rect(r).toRect()); };
    m_background->setGeometry(rect());
    place(m_resizeHandle, f.resizeHandle);
    place(m_closeButton, f.close);
    place(m_pinButton, f.pin);
    if (f.menu)
        place(m_menuButton, *f.menu);
    place(m_title, f.title);
    place(m_pill, f.pill);
    place(m_input, f.pill);
    place(m_addButton, f.add);
    place(m_scroll, f.scroll);
    m_stack->resize(int(NOTE_LIST_W), std::max(m_stack->height(), m_scroll->viewport()->height()));
}

#include "moc_NotePanel.cpp"
