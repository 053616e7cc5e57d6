#include "gui/framework/Contrast.h"

#include <algorithm>
#include <cmath>

namespace {

// WCAG's relative luminance.
double Luminance(const QColor& color) {
    auto linear = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
}

QColor Mix(const QColor& a, const QColor& b, double share) {
    return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * share),
                            static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * share),
                            static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * share));
}

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableOn(const QColor& color, const QColor& toward, const QColor& face) {
    if (ContrastRatio(color, face) >= kReadableContrast)
        return color;
    // The least share of toward that reads: the contrast grows with the share as long as toward
    // lies beyond color, seen from the face, which is what toward is for.
    double low = 0, high = 1;
    for (int step = 0; step < 12; ++step) {
        const double share = (low + high) / 2;
        (ContrastRatio(Mix(color, toward, share), face) >= kReadableContrast ? high : low) = share;
    }
    return Mix(color, toward, high);
}
