// Dotted version comparison.
#include "updater/version_compare.h"

#include <QList>
#include <algorithm>

namespace sombrix::updater {

namespace {

struct Component {
    QStringView digits;  // without leading zeros
    QStringView suffix;
};

Component split(QStringView part) {
    qsizetype end = 0;
    while (end < part.size() && part[end].isDigit()) {
        ++end;
    }
    QStringView digits = part.left(end);
    while (digits.size() > 1 && digits.front() == u'0') {
        digits = digits.mid(1);
    }
    if (digits.isEmpty()) {
        digits = u"0";
    }
    return {digits, part.mid(end)};
}

// Numbers of any length compare without overflow: longer is larger, then digit by digit.
int compareDigits(QStringView a, QStringView b) {
    if (a.size() != b.size()) {
        return a.size() < b.size() ? -1 : 1;
    }
    return a.compare(b);
}

int sign(int v) {
    return (v > 0) - (v < 0);
}

// Text with numbers inside ("b2", "rc10") compares the numbers as numbers: b2 before b10.
int compareNatural(QStringView a, QStringView b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ie = i;
            qsizetype je = j;
            while (ie < a.size() && a[ie].isDigit()) {
                ++ie;
            }
            while (je < b.size() && b[je].isDigit()) {
                ++je;
            }
            if (const int c = compareDigits(split(a.sliced(i, ie - i)).digits,
                                            split(b.sliced(j, je - j)).digits);
                c != 0) {
                return sign(c);
            }
            i = ie;
            j = je;
            continue;
        }
        if (a[i] != b[j]) {
            return a[i] < b[j] ? -1 : 1;
        }
        ++i;
        ++j;
    }
    return sign(int(a.size() - i) - int(b.size() - j));
}

}  // namespace

int compareVersions(QStringView a, QStringView b) {
    const QList<QStringView> left = a.trimmed().split(u'.');
    const QList<QStringView> right = b.trimmed().split(u'.');
    const qsizetype count = std::max(left.size(), right.size());
    for (qsizetype i = 0; i < count; ++i) {
        const Component l = split(i < left.size() ? left[i] : QStringView(u"0"));
        const Component r = split(i < right.size() ? right[i] : QStringView(u"0"));
        if (const int c = compareDigits(l.digits, r.digits); c != 0) {
            return sign(c);
        }
        if (l.suffix != r.suffix) {
            if (l.suffix.isEmpty()) {
                return 1;
            }
            if (r.suffix.isEmpty()) {
                return -1;
            }
            return compareNatural(l.suffix, r.suffix);
        }
    }
    return 0;
}

}  // namespace sombrix::updater
