#include "kivds/ui/DialogControls.h"

#include <iterator>

namespace kiv {

const ControlRule* FindControlRule(int id) {
    for (const ControlRule& rule : kCaptureControls) {
        if (rule.id == id) return &rule;
    }
    return nullptr;
}

const TemplateRect& VersionControlRect(int id) {
    for (const TemplateRect& rect : kVersionControls) {
        if (rect.id == id) return rect;
    }
    return kVersionControls[0];
}

namespace {

constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;

// MulDiv(value, numerator, denominator) of Windows, for a positive denominator.
int RoundedMulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>((product >= 0 ? product + half : product - half) / denominator);
}

}  // namespace

int DialogUnitsX(int units) { return RoundedMulDiv(units, kBaseUnitX, 4); }
int DialogUnitsY(int units) { return RoundedMulDiv(units, kBaseUnitY, 8); }

}  // namespace kiv
