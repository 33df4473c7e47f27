#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("HalVern M7 Firmware Tool"));
    window.resize(800, 560);
    window.show();
    return app.exec();
}
