// The floor the application shell is measured against: the least a Qt 6 tray program does, an
// icon in the panel (Qt's own tray icon: a StatusNotifierItem where a watcher runs, XEmbed
// elsewhere) and a one-second timer that does nothing.
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    QImage img(22, 22, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter p(&img);
        p.setBrush(Qt::white);
        p.setPen(Qt::black);
        p.drawEllipse(3, 3, 16, 16);
    }
    QSystemTrayIcon tray(QIcon(QPixmap::fromImage(img)));
    tray.show();
    QTimer tick;
    tick.start(1000);
    return app.exec();
}
