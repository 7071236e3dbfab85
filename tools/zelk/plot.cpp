// The SVG chart of a measurement: hand-written SVG, no other dependency.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>

#include "dataset.h"

namespace zelk::tool {
namespace {

constexpr double kWidth = 1000, kLeft = 80, kRight = 150, kPlotWidth = kWidth - kLeft - kRight;
const char* const kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd", "#8c564b",
                                "#e377c2", "#17becf", "#bcbd22", "#7f7f7f", "#393b79", "#637939",
                                "#8c6d31", "#843c39", "#7b4173", "#3182bd"};

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
    std::string label;  // y axis
    std::vector<const Column*> series;
    bool digital = false;
    double height = 0;
};

}  // namespace

std::string RenderSvg(const Dataset& data, const std::vector<std::string>& fields, double periodUs,
                      const std::string& title) {
    auto wanted = [&](const std::string& name) {
        return fields.empty() || std::find(fields.begin(), fields.end(), name) != fields.end();
    };
    Panel analog{"engineering units (V for A = 1, B = 0)", {}, false, 300};
    Panel counters{"counter value", {}, false, 170};
    Panel digital{"digital lines", {}, true, 40};
    for (const Column& c : data.columns) {
        if (c.name == "INDEX" || !wanted(c.name)) continue;
        if (c.name.rfind("AIN", 0) == 0) analog.series.push_back(&c);
        else if (c.name.rfind("CNT", 0) == 0) counters.series.push_back(&c);
        else digital.series.push_back(&c);
    }
    digital.height = 40.0 * static_cast<double>(digital.series.size()) + 20;
    std::vector<Panel*> panels;
    for (Panel* p : {&analog, &counters, &digital})
        if (!p->series.empty()) panels.push_back(p);

    const size_t rows = data.Rows();
    const bool seconds = periodUs > 0;
    auto xOf = [&](size_t k) { return seconds ? static_cast<double>(k) * periodUs * 1e-6 : static_cast<double>(k); };
    double x0 = 0, x1 = rows > 1 ? xOf(rows - 1) : 1.0;
    if (x1 <= x0) x1 = x0 + 1;

    double height = 60;
    for (Panel* p : panels) height += p->height + 40;
    height += 50;

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
        auto X = [&](double x) { return kLeft + (x - x0) / (x1 - x0) * kPlotWidth; };
        auto Y = [&](double y) { return top + h - (y - lo) / (hi - lo) * h; };

        o << "<g class=\"panel\">\n<rect x=\"" << kLeft << "\" y=\"" << top << "\" width=\"" << kPlotWidth
          << "\" height=\"" << h << "\" fill=\"none\" stroke=\"#444\"/>\n";
        for (double t : xt) {
            o << "<line x1=\"" << Num(X(t)) << "\" y1=\"" << top << "\" x2=\"" << Num(X(t)) << "\" y2=\"" << top + h
              << "\" stroke=\"#ddd\"/>\n<text x=\"" << Num(X(t)) << "\" y=\"" << top + h + 15
              << "\" text-anchor=\"middle\">" << TickText(t, xstep) << "</text>\n";
        }
        if (!p->digital) {
            std::vector<double> yt = Ticks(lo, hi, 6);
            double ystep = yt.size() > 1 ? yt[1] - yt[0] : 1;
            for (double t : yt)
                o << "<line x1=\"" << kLeft << "\" y1=\"" << Num(Y(t)) << "\" x2=\"" << kLeft + kPlotWidth << "\" y2=\""
                  << Num(Y(t)) << "\" stroke=\"#ddd\"/>\n<text x=\"" << kLeft - 6 << "\" y=\"" << Num(Y(t) + 4)
                  << "\" text-anchor=\"end\">" << TickText(t, ystep) << "</text>\n";
        }
        if (p->digital)
            for (size_t si = 0; si < p->series.size(); ++si)
                for (int level = 0; level <= 1; ++level)
                    o << "<text x=\"" << kLeft - 6 << "\" y=\""
                      << Num(Y(static_cast<double>(si) + 0.15 + 0.7 * level) + 4) << "\" text-anchor=\"end\">" << level
                      << "</text>\n";
        o << "<text transform=\"translate(18," << Num(top + h / 2) << ") rotate(-90)\" text-anchor=\"middle\">"
          << Esc(p->label) << "</text>\n";

        // At most two points (minimum and maximum) per column of pixels.
        const size_t buckets = static_cast<size_t>(kPlotWidth) * 2;
        for (size_t si = 0; si < p->series.size(); ++si) {
            const Column& c = *p->series[si];
            const char* col = kColours[colour++ % (sizeof kColours / sizeof kColours[0])];
            double base = p->digital ? static_cast<double>(si) + 0.15 : 0, scale = p->digital ? 0.7 : 1;
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
            double ly = p->digital ? Y(base + 0.35) + 4 : top + 14 + 16.0 * static_cast<double>(si);
            o << "<line x1=\"" << kLeft + kPlotWidth + 12 << "\" y1=\"" << Num(ly - 4) << "\" x2=\""
              << kLeft + kPlotWidth + 34 << "\" y2=\"" << Num(ly - 4) << "\" stroke=\"" << col
              << "\" stroke-width=\"2\"/>\n<text class=\"legend\" x=\"" << kLeft + kPlotWidth + 40 << "\" y=\""
              << Num(ly) << "\">" << Esc(c.name) << "</text>\n";
        }
        o << "</g>\n";
        top += h + 40;
    }
    o << "<text x=\"" << kLeft + kPlotWidth / 2 << "\" y=\"" << Num(top + 5) << "\" text-anchor=\"middle\">"
      << (seconds ? "time [s]" : "record index") << "</text>\n</svg>\n";
    return o.str();
}

}  // namespace zelk::tool
