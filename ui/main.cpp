#include <QApplication>

#include "engine/TraceSettings.h"
#include "net/IcmpEchoService.h"
#include "net/SystemResolver.h"
#include "ui/MainWindow.h"
#include "ui/MessageBoxSink.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TraceSettings settings;
    IcmpEchoService echo(IcmpEchoService::Backend::automatic);
    SystemResolver resolver;
    MessageBoxSink messages;
    MainWindow window(settings, echo, resolver, messages); // on main()'s stack: never deleted from inside a trace
    window.show();
    return app.exec();
}
