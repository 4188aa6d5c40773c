#include <QApplication>
#include <QTimer>

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
    // korvalen FILE (the desktop's "Open with"): a saved trace, once the window shows
    if (const QStringList args = QApplication::arguments(); args.size() > 1)
        QTimer::singleShot(0, &window, [&window, path = args.at(1)] { window.openTraceFile(path); });
    return app.exec();
}
