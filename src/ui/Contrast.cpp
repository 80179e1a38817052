#include "ui/Contrast.h"

#include <QPalette>

#include <algorithm>
#include <cmath>

namespace {

constexpr double LeastReadableContrast = 4.5;

double Linear(double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& c) {
    const QColor rgb = c.toRgb();
    return 0.2126 * Linear(rgb.redF()) + 0.7152 * Linear(rgb.greenF()) +
           0.0722 * Linear(rgb.blueF());
}

QColor Mix(const QColor& from, const QColor& to, double share) {
    const QColor a = from.toRgb();
    const QColor b = to.toRgb();
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * share),
                            float(a.greenF() + (b.greenF() - a.greenF()) * share),
                            float(a.blueF() + (b.blueF() - a.blueF()) * share));
}

} // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor SubduedTextColour(const QPalette& palette) {
    const QColor text = palette.color(QPalette::Active, QPalette::Text);
    const QColor base = palette.color(QPalette::Active, QPalette::Base);
    // Move from the text towards the base as far as the contrast allows,
    // in steps, and keep the last colour that still reads.
    QColor chosen = text;
    for (double share = 0.05; share < 1.0; share += 0.05) {
        const QColor candidate = Mix(text, base, share);
        if (ContrastRatio(candidate, base) < LeastReadableContrast + 0.3)
            break;
        chosen = candidate;
    }
    return chosen;
}
