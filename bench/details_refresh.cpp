// Cost of the hop details' refresh while a trace runs: the real engine over
// a scripted network (three hops, hop 1 losing every 4th reply, times spread
// over 2-97 us), the dialog open on hop 1 under the offscreen platform, and
// every EVERY main probes what a refresh of the window does to it: read the
// engine again, then paint what changed. Prints the median and worst refresh
// and paint, and their cost spread over the probes between refreshes (at
// 80 000 probes a second and twenty refreshes a second, 4000 probes).
//
//   QT_QPA_PLATFORM=offscreen details_refresh [RUNS [EVERY]]   (default 10000 runs, 4000)
#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/Timings.h"
#include "engine/TraceEngine.h"
#include "tests/fakes/FakeNetwork.h"
#include "tests/fakes/FakeWindowOps.h"
#include "ui/HopDetailsDialog.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int every = argc > 2 ? std::atoi(argv[2]) : 4000;
    if (runs < 1 || runs > 10000 || every < 1) {
        std::fprintf(stderr, "usage: details_refresh [RUNS 1..10000 [EVERY]]\n");
        return 2;
    }
    TraceSettings settings;
    settings.setStartupValues();
    settings.optMaxRuns = static_cast<int16_t>(runs);
    settings.optMaxHops = 3;
    settings.optResolveNames = false;

    FakeNetwork net;
    net.setRecording(false);
    net.setRecordPayloads(false);
    net.hop(1) = FakeHop{{"10.0.0.1"}};
    net.hop(1).answers = "+++-";
    net.hop(1).rtts = {0};
    for (uint32_t us = 2; us < 98; us += 5)
        net.hop(1).rttUs.push_back(us);
    net.hop(2) = FakeHop{{"10.0.1.1", "10.0.2.1"}};
    net.hop(3) = FakeHop{{"192.0.2.1"}};
    net.hop(3).status = IpStatus::success;

    FakeWindowOps ops;
    ops.setCombo1Text("192.0.2.1");
    TraceEngine engine{settings, net, net, ops};
    HopDetailsDialog dialog(engine, nullptr);
    dialog.show();
    dialog.showHop(1);

    std::vector<double> refresh, paint;
    int probes = 0;
    ops.onEveryYield([&] {
        if (++probes % every != 0)
            return;
        QElapsedTimer t;
        t.start();
        dialog.refresh();
        refresh.push_back(static_cast<double>(t.nsecsElapsed()) / 1000);
        t.start();
        QApplication::processEvents(); // the repaint of what changed
        paint.push_back(static_cast<double>(t.nsecsElapsed()) / 1000);
    });
    engine.command1Click();
    const double r = medianOf(refresh), p = medianOf(paint);
    std::printf("%d refreshes over %d main probes, one every %d: refresh median %.0f us (worst %.0f), "
                "paint median %.0f us (worst %.0f): %.3f us a main probe\n",
                static_cast<int>(refresh.size()), probes, every, r, worstOf(refresh), p,
                worstOf(paint), (r + p) / every);
    return 0;
}
