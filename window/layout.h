// The main window's layout rule on twips, kept free of any toolkit so it can be checked
// without a display. The window code converts pixels to twips, runs LayOut and moves the
// controls by what comes back.
#pragma once

namespace window {

struct LayoutInput {
  int innerWidth = 0;   // client area width
  int innerHeight = 0;  // client area height
  int outerWidth = 0;   // full window width, borders included
};

struct Layout {
  int txtWidth = 0;
  int txtHeight = 0;
  int label1Top = 0;
  int label2Top = 0;
  int label3Top[2] = {0, 0};
  int label3Left[2] = {0, 0};
};

// The strip under the text box, and how far above the inner bottom edge the labels sit.
inline constexpr int kStripHeight = 350;
inline constexpr int kLabelRise = 260;
// The save link's left edge lies this far left of the outer width, the reload link's this
// far left of the save link's.
inline constexpr int kLinkStep = 1000;

// Places the controls for a window of the given size. Below an inner height of 350 the text
// box gets height 0 (a control cannot be negative); the labels keep their rule and may then
// lie above the top edge.
Layout LayOut(const LayoutInput& size);

}  // namespace window
