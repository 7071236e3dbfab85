// The chart of a measurement as hand-written SVG.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>

#include "common.h"
#include "dataset.h"

namespace zelk::tool {
namespace {

constexpr double kWidth = 1100, kLeft = 80;
// No two traces of a chart share a colour: 24 colours for the 21 traces a table can hold
// (16 analog channels, 2 counters, 3 digital lines), each far from the others and dark
// enough to stand out on white.
const char* const kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd", "#8c564b",
                                "#e377c2", "#17becf", "#bcbd22", "#000000", "#000099", "#145d4e",
                                "#706500", "#700043", "#555555", "#700000", "#d91275", "#1443ff",
                                "#256808", "#b3820f", "#22a087", "#ca7b72", "#004370", "#51381f"};
constexpr size_t kColourCount = sizeof kColours / sizeof kColours[0];
static_assert(kColourCount >= 22, "a colour for each field of a table");
constexpr size_t kLegendColumns = 40;  // longer legends are cut with "…"
constexpr double kCharWidth = 7.2;     // of the 12 px sans-serif, a little generous
constexpr double kDigitalRow = 48;     // a digital line's row; its 0 and 1 at 0.2 and 0.8 of it

std::string Esc(const std::string& s) {
    std::string o;
    for (char c : s) {
        switch (c) {
            case '&': o += "&amp;"; break;
            case '<': o += "&lt;"; break;
            case '>': o += "&gt;"; break;
            case '"': o += "&quot;"; break;
            default: o += c;
        }
    }
    return o;
}

std::string Num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    return buf;
}

// Tick values covering [lo, hi] at a 1-2-5 step.
std::vector<double> Ticks(double lo, double hi, int wanted) {
    double span = hi - lo;
    double raw = span / wanted;
    double mag = std::pow(10.0, std::floor(std::log10(raw)));
    double step = mag;
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * mag >= raw) { step = m * mag; break; }
    std::vector<double> t;
    for (double v = std::ceil(lo / step) * step; v <= hi + step * 1e-9; v += step)
        t.push_back(std::fabs(v) < step * 1e-9 ? 0.0 : v);
    return t;
}

std::string TickText(double v, double step) {
    int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", std::min(decimals, 6), v);
    return buf;
}

struct Panel {
    std::string label;  // the value axis
    std::vector<const Column*> series;
    bool digital = false;
    double height = 0;
};

}  // namespace

Chart RenderSvg(const Dataset& data, const std::vector<std::string>& fields, double periodUs, const std::string& title,
                const ChannelLabels& labels) {
    auto wanted = [&](const std::string& name) {
        return fields.empty() || std::find(fields.begin(), fields.end(), name) != fields.end();
    };
    // Analog channels share a panel when they share a value axis: the same unit, or without
    // one the same scaling; a panel per axis keeps a +-80 degC trace from flattening a 2 V one.
    // Each counter counts something of its own and has a panel of its own.
    std::vector<Panel> analog, counters;
    Panel digital{"digital lines", {}, true, 0};
    size_t legendChars = 0;
    for (const Column& c : data.columns) {
        if (c.name == "INDEX" || !wanted(c.name)) continue;
        legendChars = std::max(legendChars, std::min(Columns(labels.Heading(c.name)), kLegendColumns));
        const int n = ChannelLabels::AnalogOfField(c.name);
        if (n >= 0) {
            const std::string& axis = labels.Analog(n).axis;
            auto p = std::find_if(analog.begin(), analog.end(), [&](const Panel& q) { return q.label == axis; });
            if (p == analog.end()) p = analog.insert(analog.end(), Panel{axis, {}, false, 0});
            p->series.push_back(&c);
        } else if (c.name.rfind("CNT", 0) == 0) {
            counters.push_back(Panel{"counter value", {&c}, false, 0});
        } else {
            digital.series.push_back(&c);
        }
    }
    std::vector<Panel*> panels;
    for (Panel& p : analog) panels.push_back(&p);
    for (Panel& p : counters) panels.push_back(&p);
    if (!digital.series.empty()) panels.push_back(&digital);
    // A panel is high enough for its legend; the fewer panels, the more room each gets.
    const double least = panels.size() == 1 ? 320 : panels.size() <= 3 ? 220 : 170;
    for (Panel* p : panels) {
        const double legend = 22.0 * static_cast<double>(p->series.size()) + 24;
        p->height = p->digital ? kDigitalRow * static_cast<double>(p->series.size()) + 10 : std::max(least, legend);
    }
    const double right = std::max(150.0, 60 + kCharWidth * static_cast<double>(legendChars));
    const double plotWidth = kWidth - kLeft - right;

    const size_t rows = data.Rows();
    const bool seconds = periodUs > 0;
    auto xOf = [&](size_t k) { return seconds ? static_cast<double>(k) * periodUs * 1e-6 : static_cast<double>(k); };
    double x0 = 0, x1 = rows > 1 ? xOf(rows - 1) : 1.0;
    if (x1 <= x0) x1 = x0 + 1;

    double height = 60;
    for (Panel* p : panels) height += p->height + 40;
    height = std::ceil(height + 25);

    std::ostringstream o;
    o << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << kWidth << " " << height << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<text x=\"" << kWidth / 2 << "\" y=\"28\" text-anchor=\"middle\" font-size=\"16\" font-weight=\"bold\">"
      << Esc(title) << "</text>\n";
    if (panels.empty() || rows == 0)
        o << "<text x=\"" << kWidth / 2 << "\" y=\"60\" text-anchor=\"middle\">no data</text>\n";

    double top = 50;
    size_t colour = 0;
    std::vector<double> xt = Ticks(x0, x1, 8);
    double xstep = xt.size() > 1 ? xt[1] - xt[0] : 1;
    for (Panel* p : panels) {
        const double h = p->height;
        double lo = std::numeric_limits<double>::infinity(), hi = -lo;
        if (p->digital) {
            lo = 0;
            hi = static_cast<double>(p->series.size());
        } else {
            for (const Column* c : p->series)
                for (double v : c->values)
                    if (std::isfinite(v)) { lo = std::min(lo, v); hi = std::max(hi, v); }
            if (!std::isfinite(lo)) { lo = 0; hi = 1; }
            if (hi - lo < 1e-9) { lo -= 0.5; hi += 0.5; }
            double pad = (hi - lo) * 0.05;
            lo -= pad;
            hi += pad;
        }
        auto X = [&](double x) { return kLeft + (x - x0) / (x1 - x0) * plotWidth; };
        // Digital lines from the top down in the order of the table: DIN0, DIN1, DOUT.
        auto RowBase = [&](size_t si) { return static_cast<double>(p->series.size() - 1 - si) + 0.2; };
        auto Y = [&](double y) { return top + h - (y - lo) / (hi - lo) * h; };

        o << "<g class=\"panel\" data-axis=\"" << Esc(p->label) << "\">\n<rect x=\"" << kLeft << "\" y=\"" << top
          << "\" width=\"" << plotWidth << "\" height=\"" << h << "\" fill=\"none\" stroke=\"#444\"/>\n";
        for (double t : xt) {
            o << "<line x1=\"" << Num(X(t)) << "\" y1=\"" << top << "\" x2=\"" << Num(X(t)) << "\" y2=\"" << top + h
              << "\" stroke=\"#ddd\"/>\n<text x=\"" << Num(X(t)) << "\" y=\"" << top + h + 15
              << "\" text-anchor=\"middle\">" << TickText(t, xstep) << "</text>\n";
        }
        if (!p->digital) {
            std::vector<double> yt = Ticks(lo, hi, 6);
            double ystep = yt.size() > 1 ? yt[1] - yt[0] : 1;
            for (double t : yt)
                o << "<line x1=\"" << kLeft << "\" y1=\"" << Num(Y(t)) << "\" x2=\"" << kLeft + plotWidth << "\" y2=\""
                  << Num(Y(t)) << "\" stroke=\"#ddd\"/>\n<text x=\"" << kLeft - 6 << "\" y=\"" << Num(Y(t) + 4)
                  << "\" text-anchor=\"end\">" << TickText(t, ystep) << "</text>\n";
        }
        if (p->digital)
            for (size_t si = 0; si < p->series.size(); ++si)
                for (int level = 0; level <= 1; ++level)
                    o << "<text x=\"" << kLeft - 6 << "\" y=\"" << Num(Y(RowBase(si) + 0.6 * level) + 4)
                      << "\" text-anchor=\"end\">" << level << "</text>\n";
        o << "<text class=\"axis\" transform=\"translate(18," << Num(top + h / 2)
          << ") rotate(-90)\" text-anchor=\"middle\">" << Esc(p->label) << "</text>\n";

        // At most two points (minimum and maximum) per column of pixels.
        const size_t buckets = static_cast<size_t>(plotWidth) * 2;
        for (size_t si = 0; si < p->series.size(); ++si) {
            const Column& c = *p->series[si];
            const char* col = kColours[colour++ % kColourCount];
            double base = p->digital ? RowBase(si) : 0, scale = p->digital ? 0.6 : 1;
            std::ostringstream pts;
            size_t n = c.values.size();
            size_t per = std::max<size_t>(1, n / buckets);
            for (size_t k = 0; k < n; k += per) {
                size_t end = std::min(n, k + per);
                size_t kmin = k, kmax = k;
                for (size_t q = k; q < end; ++q) {
                    if (c.values[q] < c.values[kmin]) kmin = q;
                    if (c.values[q] > c.values[kmax]) kmax = q;
                }
                for (size_t q : {std::min(kmin, kmax), std::max(kmin, kmax)}) {
                    double v = base + c.values[q] * scale;
                    if (!std::isfinite(v)) continue;
                    pts << Num(X(xOf(q))) << "," << Num(Y(v)) << " ";
                    if (kmin == kmax) break;
                }
            }
            o << "<polyline class=\"series\" data-name=\"" << Esc(c.name) << "\" fill=\"none\" stroke=\"" << col
              << "\" stroke-width=\"1.3\" points=\"" << pts.str() << "\"/>\n";
            double ly = p->digital ? Y(base + 0.3) + 4 : top + 14 + 16.0 * static_cast<double>(si);
            o << "<line x1=\"" << kLeft + plotWidth + 12 << "\" y1=\"" << Num(ly - 4) << "\" x2=\""
              << kLeft + plotWidth + 34 << "\" y2=\"" << Num(ly - 4) << "\" stroke=\"" << col
              << "\" stroke-width=\"2\"/>\n<text class=\"legend\" x=\"" << kLeft + plotWidth + 40 << "\" y=\""
              << Num(ly) << "\">" << Esc(Clip(labels.Heading(c.name), kLegendColumns)) << "</text>\n";
        }
        o << "</g>\n";
        top += h + 40;
    }
    o << "<text x=\"" << kLeft + plotWidth / 2 << "\" y=\"" << Num(top + 5) << "\" text-anchor=\"middle\">"
      << (seconds ? "time [s]" : "record index") << "</text>\n</svg>\n";
    return {o.str(), static_cast<int>(kWidth), static_cast<int>(height)};
}

}  // namespace zelk::tool
