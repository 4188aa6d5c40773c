#pragma once

// What the window tests start from: fresh settings, a scripted network, a
// recording message sink and the main window on real widgets, made anew for
// every test function.
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <memory>

#include "RecordingSink.h"
#include "engine/TraceSettings.h"
#include "tests/fakes/FakeNetwork.h"
#include "ui/MainWindow.h"

class WindowFixture {
protected:
    // A new network and a new window over it; the window's Load has given the
    // settings their start-up values when this returns.
    void openWindow()
    {
        settings = TraceSettings{};
        sink.messages.clear();
        window.reset();
        net = std::make_unique<FakeNetwork>();
        window = std::make_unique<MainWindow>(settings, *net, *net, sink);
    }
    // Shows the window; false when it never became exposed.
    bool showWindow()
    {
        window->show();
        return QTest::qWaitForWindowExposed(window.get());
    }
    void closeWindow()
    {
        window.reset();
        net.reset();
    }

    template <typename W> W *child(const char *name) const
    {
        W *w = window->findChild<W *>(QString::fromLatin1(name));
        if (!w)
            qFatal("missing control %s", name);
        return w;
    }
    QComboBox *combo() const { return child<QComboBox>("Combo1"); }
    QPushButton *button(const char *name) const { return child<QPushButton>(name); }
    QTreeWidget *table() const { return child<QTreeWidget>("ListView1"); }

    TraceSettings settings;
    std::unique_ptr<FakeNetwork> net;
    RecordingSink sink;
    std::unique_ptr<MainWindow> window;
};
