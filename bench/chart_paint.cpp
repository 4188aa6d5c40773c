// Cost of the hop details' time line: one repaint, and the binning a refresh
// does, for a hop of N probes (one of every 20 lost, two addresses, times
// spread over 0.2-30 ms), with the widget at 640x240 under the offscreen platform,
// in a light style at a device pixel ratio of 1 and in a dark one at 2.
// usage: QT_QPA_PLATFORM=offscreen chart_paint [REPAINTS]
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPalette>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "bench/Timings.h"
#include "engine/HopHistory.h"
#include "ui/TimeLineChart.h"

namespace {

HopHistory makeProbes(size_t n)
{
    HopHistory h;
    std::mt19937 random(7);
    std::uniform_int_distribution<uint32_t> rtt(200, 30000);
    for (size_t i = 0; i < n; ++i) {
        HopProbe p{};
        p.sentUs = i * 1000; // a probe a millisecond, as a fast trace sends them
        p.run = static_cast<uint16_t>(i + 1);
        p.lost = i % 20 == 19;
        p.precise = !p.lost;
        p.rttUs = p.lost ? 0 : rtt(random);
        p.entry = p.lost ? 0 : static_cast<uint16_t>(1 + i % 2);
        h.append(p);
    }
    return h;
}

// The palette of a dark style, as the window test sets it.
QPalette darkPalette()
{
    const QColor light(0xe6e6e6), plot(0x2d2d2d), mid(0x505050), window(0x353535);
    return QPalette(light, window, mid, plot, mid, light, light, plot, window);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int repaints = argc > 1 ? std::atoi(argv[1]) : 200;
    for (const bool highDpi : {false, true}) {
        // the dark style on a screen at twice the density: four times the pixels
        const qreal ratio = highDpi ? 2 : 1;
        std::printf("%s\n",
                    highDpi ? "dark style, device pixel ratio 2:" : "light style, ratio 1:");
        for (size_t n : {size_t{10}, size_t{10000}, size_t{100000}}) {
            const HopHistory probes = makeProbes(n);
            TimeLineChart chart;
            if (highDpi)
                chart.setPalette(darkPalette());
            chart.resize(640, 240);
            chart.setProbes(&probes, probes.back().sentUs, [](int32_t) { return QString(); });
            QImage image(chart.size() * ratio, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(ratio);
            std::vector<double> paint, bin;
            for (int i = 0; i < repaints; ++i) {
                QElapsedTimer t;
                t.start();
                chart.render(&image);
                paint.push_back(static_cast<double>(t.nsecsElapsed()) / 1000);
                t.start();
                chart.setProbes(&probes, probes.back().sentUs, [](int32_t) { return QString(); });
                bin.push_back(static_cast<double>(t.nsecsElapsed()) / 1000);
            }
            std::printf(
                "%6zu probes: repaint median %.0f us (worst %.0f), binning median %.0f us\n", n,
                medianOf(paint), worstOf(paint), medianOf(bin));
        }
    }
    return 0;
}
