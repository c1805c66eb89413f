// Plain geometry in the window server's global space: root pixels, origin at the top-left corner
// of the root, y growing downward. The toolkit's scaling never enters it.
#pragma once

namespace sombrix {

struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    double width = 0;
    double height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double minX() const { return x; }
    double minY() const { return y; }
    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    Point centre() const { return {x + width / 2, y + height / 2}; }

    // Half-open: a point on the left or top edge belongs to the rectangle, one on the right or
    // bottom edge does not, so a point on the border of two adjacent displays has one owner.
    bool containsHalfOpen(Point p) const {
        return minX() <= p.x && p.x < maxX() && minY() <= p.y && p.y < maxY();
    }

    friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace sombrix
