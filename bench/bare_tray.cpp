// The yardstick for bench/desktop.sh: about the least a Qt 6 tray app with a note window can
// be. A tray icon with a small menu and a frameless 300 x 480 window that paints 50 rows of
// text; no network, no timers. What Velloa costs beyond this is what Velloa itself adds.
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QWidget>

namespace {

class RowsWindow : public QWidget {
public:
    RowsWindow() : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint) {
        resize(300, 480);
        setWindowTitle(QStringLiteral("bare"));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(0xfb, 0xf3, 0xd5));
        // Fifty rows in 480 pixels: small type, and Chinese like the app's, so both load the
        // same CJK font.
        QFont font(QStringLiteral("Noto Sans CJK SC"));
        font.setPixelSize(8);
        painter.setFont(font);
        const int rowHeight = height() / 50;
        for (int i = 0; i < 50; ++i) {
            const QRect row(8, i * rowHeight, width() - 16, rowHeight);
            painter.drawText(row, Qt::AlignVCenter, QStringLiteral("第 %1 件事：整理房间").arg(i + 1));
        }
    }
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

    RowsWindow window;
    window.show();
    return app.exec();
}
