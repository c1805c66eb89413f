// Region arithmetic by sweeping horizontal bands: between two consecutive horizontal edges every
// rectangle either spans the band or misses it, so each band is a set of x spans combined on its
// own. Fine for the few dozen windows of a desktop; nothing here is on a hot path per pixel.
#include "engine/region.h"

#include <algorithm>
#include <utility>

namespace sombrix::region {

namespace {

enum class Op { unite, subtract, intersect };

using Spans = std::vector<std::pair<double, double>>;

bool hasArea(const Rect& r) {
    return r.width > 0 && r.height > 0;
}

Spans spansIn(const Region& region, double y0, double y1) {
    Spans spans;
    for (const Rect& r : region) {
        if (hasArea(r) && r.minY() <= y0 && r.maxY() >= y1)
            spans.emplace_back(r.minX(), r.maxX());
    }
    std::sort(spans.begin(), spans.end());
    Spans merged;
    for (const auto& s : spans) {
        if (!merged.empty() && s.first <= merged.back().second)
            merged.back().second = std::max(merged.back().second, s.second);
        else
            merged.push_back(s);
    }
    return merged;
}

bool covers(const Spans& spans, double x) {
    return std::any_of(spans.begin(), spans.end(),
                       [x](const auto& s) { return s.first <= x && x < s.second; });
}

Spans combine(const Spans& a, const Spans& b, Op op) {
    std::vector<double> xs;
    for (const auto* spans : {&a, &b}) {
        for (const auto& s : *spans) {
            xs.push_back(s.first);
            xs.push_back(s.second);
        }
    }
    std::sort(xs.begin(), xs.end());
    xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
    Spans out;
    for (std::size_t i = 0; i + 1 < xs.size(); ++i) {
        const bool inA = covers(a, xs[i]);
        const bool inB = covers(b, xs[i]);
        const bool keep = op == Op::unite      ? (inA || inB)
                          : op == Op::subtract ? (inA && !inB)
                                               : (inA && inB);
        if (!keep)
            continue;
        if (!out.empty() && out.back().second == xs[i])
            out.back().second = xs[i + 1];
        else
            out.emplace_back(xs[i], xs[i + 1]);
    }
    return out;
}

Region combine(const Region& a, const Region& b, Op op) {
    std::vector<double> ys;
    for (const auto* region : {&a, &b}) {
        for (const Rect& r : *region) {
            if (!hasArea(r))
                continue;
            ys.push_back(r.minY());
            ys.push_back(r.maxY());
        }
    }
    std::sort(ys.begin(), ys.end());
    ys.erase(std::unique(ys.begin(), ys.end()), ys.end());

    Region out;
    Spans previous;
    std::size_t previousFirst = 0;  // where the previous band's rectangles start in `out`
    double previousEnd = 0;
    for (std::size_t i = 0; i + 1 < ys.size(); ++i) {
        const double y0 = ys[i];
        const double y1 = ys[i + 1];
        Spans spans = combine(spansIn(a, y0, y1), spansIn(b, y0, y1), op);
        if (!spans.empty() && spans == previous && previousEnd == y0) {
            for (std::size_t k = previousFirst; k < out.size(); ++k)
                out[k].height = y1 - out[k].y;
        } else {
            previousFirst = out.size();
            for (const auto& s : spans)
                out.push_back(Rect{s.first, y0, s.second - s.first, y1 - y0});
        }
        previousEnd = y1;
        previous = std::move(spans);
    }
    return out;
}

}  // namespace

Region unite(const Region& a, const Region& b) {
    return combine(a, b, Op::unite);
}

Region subtract(const Region& from, const Region& cut) {
    return combine(from, cut, Op::subtract);
}

Region intersect(const Region& a, const Region& b) {
    return combine(a, b, Op::intersect);
}

}  // namespace sombrix::region
