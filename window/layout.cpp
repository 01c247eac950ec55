#include "window/layout.h"

#include <algorithm>

namespace window {

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
