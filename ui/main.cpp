#include <QApplication>

#include "ui/MainWindow.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    MainWindow window; // on main()'s stack: never deleted from inside a trace
    window.show();
    return app.exec();
}
