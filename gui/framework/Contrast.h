#pragma once
// Colours that can be read: WCAG's contrast of two colours, and the least change to a colour
// that makes it readable on a face.
#include <QColor>

// What WCAG asks of normal text.
constexpr double kReadableContrast = 4.5;

// The contrast of two colours as WCAG measures it: 1 (none) to 21 (black on white).
double ContrastRatio(const QColor& a, const QColor& b);

// color itself when it reads on face at kReadableContrast; else color moved toward toward (a
// colour that reads there, such as the text's own) just far enough that it does.
QColor ReadableOn(const QColor& color, const QColor& toward, const QColor& face);
