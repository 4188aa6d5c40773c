#include <QApplication>

#include "engine/TraceSettings.h"
#include "net/IcmpEchoService.h"
#include "net/PrivilegedSockets.h"
#include "net/SystemResolver.h"
#include "ui/MainWindow.h"
#include "ui/MessageBoxSink.h"

int main(int argc, char *argv[])
{
    // What needs CAP_NET_RAW is opened before anything else runs; the window,
    // the toolkit and the resolver never hold the capability.
    PrivilegedSockets privileged = PrivilegedSockets::open();
    PrivilegedSockets::dropCapability();
    QApplication app(argc, argv);
    TraceSettings settings;
    IcmpEchoService echo(IcmpEchoService::Backend::automatic, std::move(privileged));
    SystemResolver resolver;
    MessageBoxSink messages;
    MainWindow window(settings, echo, resolver, messages); // on main()'s stack: never deleted from inside a trace
    window.show();
    return app.exec();
}
