#include "window/layout.h"

#include <algorithm>

namespace window {

namespace {

int Scale(int value, int numerator, int denominator) {
  const long long scaled = static_cast<long long>(value) * numerator;
  const long long half = denominator / 2;
  return static_cast<int>(scaled >= 0 ? (scaled + half) / denominator : -((-scaled + half) / denominator));
}

}  // namespace

int TwipsToPixels(int twips, int dpi) { return Scale(twips, dpi, 1440); }
int PixelsToTwips(int pixels, int dpi) { return Scale(pixels, 1440, dpi); }

Layout LayOut(const LayoutInput& size) {
  Layout out;
  out.txtWidth = std::max(0, size.innerWidth);
  out.txtHeight = std::max(0, size.innerHeight - kStripHeight);
  out.label1Top = size.innerHeight - kLabelRise;
  out.label2Top = size.innerHeight - kLabelRise;
  out.label3Top[1] = size.innerHeight - kLabelRise;
  out.label3Left[1] = size.outerWidth - kLinkStep;
  out.label3Top[0] = size.innerHeight - kLabelRise;
  out.label3Left[0] = out.label3Left[1] - kLinkStep;
  return out;
}

}  // namespace window
