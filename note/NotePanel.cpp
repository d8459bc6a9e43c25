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

    background = new NoteBackground(this);
    makeButtonsAndField();
    makeList();

    connect(menuButton, &QAbstractButton::clicked, this, [this] {
        emit menuRequested(menuButton->mapToGlobal(QPoint(0, menuButton->height())));
    });
    background->installEventFilter(this);
    stack->installEventFilter(this);
    layoutViews();
}

void NotePanel::makeButtonsAndField() {
    resizeHandle = new ResizeHandle(background);
    closeButton = new NoteButton(background);
    closeButton->setGlyph(NoteGlyph::XMark, [] {
        QColor c = C_VL_TXT;
        c.setAlphaF(0.62f);
        return c;
    }());
    closeButton->setAccessibleName(QStringLiteral("关闭"));
    pinButton = new NoteButton(background);
    pinButton->setToolTip(QStringLiteral("置顶（点一下钉在最上层，再点恢复）"));
    menuButton = new NoteButton(background);
    menuButton->setGlyph(NoteGlyph::Menu, [] {
        QColor c = C_VL_TXT;
        c.setAlphaF(0.62f);
        return c;
    }());
    menuButton->setAccessibleName(QStringLiteral("菜单"));
    menuButton->hide();
    title = new PassthroughLabel(background);
    pill = new PillView(background);
    input = new NoteField(background);
    input->setAccessibleName(QStringLiteral("新建任务"));
    addButton = new NoteButton(background);
    QColor gold = C_VL_GOLD;
    gold.setAlphaF(0.9f);
    addButton->setGlyph(NoteGlyph::ArrowUpCircleFill, gold);
    addButton->setAccessibleName(QStringLiteral("添加"));
    addButton->setToolTip(QStringLiteral("添加任务"));
}

void NotePanel::makeList() {
    scroll = new QScrollArea(background);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus); // the list inside takes the keyboard
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setWidgetResizable(false);
    // The card shows through the list: nothing in the scroll area paints a background, and the
    // scroller is a thin translucent bar like the overlay scrollers of macOS.
    scroll->setStyleSheet(QStringLiteral(
        "QScrollArea, QScrollArea > QWidget { background: transparent; }"
        "QScrollBar:vertical { background: transparent; width: 8px; margin: 2px 0 2px 0; }"
        "QScrollBar::handle:vertical { background: rgba(255, 255, 255, 70); border-radius: 3px;"
        " min-height: 24px; margin: 0 1px 0 1px; }"
        "QScrollBar::handle:vertical:hover { background: rgba(255, 255, 255, 120); }"
        "QScrollBar::add-line, QScrollBar::sub-line { height: 0; }"
        "QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }"));
    stack = new FlippedView;
    scroll->setWidget(stack);
    // setWidget turns the document's own background on; the card is the background.
    stack->setAutoFillBackground(false);
    scroll->viewport()->setAutoFillBackground(false);
}

void NotePanel::setMenuButtonVisible(bool visible) {
    menuButton->setVisible(visible);
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
    if (event->type() == QEvent::ContextMenu && (watched == background || watched == stack)) {
        emit menuRequested(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void NotePanel::layoutViews() {
    const double h = height();
    const FlipY flip{h};
    const NoteFrames f = noteFrames(h, menuButton->isVisibleTo(this));
    const auto place = [&](QWidget* w, const QRectF& r) { w->setGeometry(flip.rect(r).toRect()); };
    background->setGeometry(rect());
    place(resizeHandle, f.resizeHandle);
    place(closeButton, f.close);
    place(pinButton, f.pin);
    if (f.menu)
        place(menuButton, *f.menu);
    place(title, f.title);
    place(pill, f.pill);
    place(input, f.pill);
    place(addButton, f.add);
    place(scroll, f.scroll);
    stack->resize(int(NOTE_LIST_W), std::max(stack->height(), scroll->viewport()->height()));
}
