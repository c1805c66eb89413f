// Regions as lists of rectangles, for the holes cut into an overlay: union, difference and
// intersection, always returned in one canonical form so that two equal areas compare equal.
#pragma once

#include <vector>

#include "platform/geometry.h"

namespace sombrix::region {

// Canonical form: disjoint rectangles of positive area in horizontal bands, sorted top to
// bottom and left to right; touching rectangles of a band are merged, and vertically adjacent
// bands with the same spans are merged into one. Equal areas give equal lists.
using Region = std::vector<Rect>;

// True when the two rectangles share an area (touching edges do not count). Inline: the engine
// asks it for every window on every display in each cycle.
inline bool overlaps(const Rect& a, const Rect& b) {
    return a.width > 0 && a.height > 0 && b.width > 0 && b.height > 0 && a.minX() < b.maxX() &&
           b.minX() < a.maxX() && a.minY() < b.maxY() && b.minY() < a.maxY();
}

Region unite(const Region& a, const Region& b);
Region subtract(const Region& from, const Region& cut);
Region intersect(const Region& a, const Region& b);

// Any list of rectangles, overlapping or empty ones included, in canonical form.
inline Region normalised(const Region& rects) {
    return unite(rects, {});
}

}  // namespace sombrix::region
