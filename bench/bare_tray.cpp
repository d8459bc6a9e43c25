// The yardstick for bench/desktop.sh: about the least a Qt 6 tray app with a note window can
// be. A tray icon with a small menu and a frameless 300 x 480 window that paints 50 rows of
// text; no network, no timers. What Velloa costs beyond this is what Velloa itself adds.
//
// With --required it does only what the app's screens oblige any program showing them to do,
// still without network, list or menu of tasks: it asks the start-up question in a message
// box first, and its window draws text in the system font at the panel's three weights (Latin
// and Chinese) over a picture kept at the card's size.
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QWidget>

namespace {

class RowsWindow : public QWidget {
public:
    explicit RowsWindow(bool required)
        : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint), m_required(required) {
        resize(300, 480);
        setWindowTitle(QStringLiteral("bare"));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(0xfb, 0xf3, 0xd5));
        if (m_required) {
            paintRequired(painter);
            return;
        }
        // Fifty rows in 480 pixels: small type, and Chinese like the app's, so both load the
        // same CJK font.
        QFont font(QStringLiteral("Noto Sans CJK SC"));
        font.setPixelSize(8);
        paintRows(painter, font, 0);
    }

private:
    static QFont systemFont(int pixels, QFont::Weight weight) {
        QFont font = QGuiApplication::font();
        font.setPixelSize(pixels);
        font.setWeight(weight);
        return font;
    }

    void paintRequired(QPainter& painter) {
        if (m_card.isNull()) {
            QImage card(276, 456, QImage::Format_RGB32);
            for (int y = 0; y < card.height(); ++y) {
                for (int x = 0; x < card.width(); ++x)
                    card.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
            }
            m_card = QPixmap::fromImage(card);
        }
        painter.drawPixmap(12, 12, m_card);
        painter.setFont(systemFont(16, QFont::Bold));
        painter.drawText(QRect(20, 14, 260, 24), Qt::AlignVCenter, QStringLiteral("阿蓁的 To-do 12-07 09:05"));
        painter.setFont(systemFont(15, QFont::DemiBold));
        painter.drawText(QRect(20, 40, 260, 22), Qt::AlignVCenter, QStringLiteral("工作 Work"));
        paintRows(painter, systemFont(8, QFont::Normal), 64);
    }

    void paintRows(QPainter& painter, const QFont& font, int top) {
        painter.setFont(font);
        const int rowHeight = (height() - top) / 50;
        for (int i = 0; i < 50; ++i) {
            const QRect row(8, top + i * rowHeight, width() - 16, rowHeight);
            painter.drawText(row, Qt::AlignVCenter, QStringLiteral("第 %1 件事：整理房间").arg(i + 1));
        }
    }

    bool m_required;
    QPixmap m_card;
};

QIcon drawnIcon() {
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0xe0, 0x9f, 0x3e));
    painter.drawEllipse(pixmap.rect().adjusted(2, 2, -2, -2));
    return QIcon(pixmap);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);

    QMenu menu;
    menu.addAction(QStringLiteral("显示便签"));
    menu.addAction(QStringLiteral("刷新"));
    menu.addSeparator();
    QObject::connect(menu.addAction(QStringLiteral("退出")), &QAction::triggered, &app,
                     &QApplication::quit);
    QSystemTrayIcon tray(drawnIcon());
    tray.setContextMenu(&menu);
    tray.show();

    const bool required = app.arguments().contains(QStringLiteral("--required"));
    if (required) {
        QMessageBox box;
        box.setWindowTitle(QStringLiteral("维洛清单"));
        box.setIconPixmap(drawnIcon().pixmap(36, 36));
        box.setText(QStringLiteral("显示哪份 To-do？"));
        box.setInformativeText(QStringLiteral("之后点最上面那一行就能随时切换。"));
        box.setDefaultButton(box.addButton(QStringLiteral("阿蓁的 To-do"), QMessageBox::ActionRole));
        box.addButton(QStringLiteral("晴川子的 To-do"), QMessageBox::ActionRole);
        box.exec();
    }
    RowsWindow window(required);
    window.show();
    return app.exec();
}
