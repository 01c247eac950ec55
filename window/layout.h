// The main window as designed and its layout rule, on twips, kept free of any toolkit: both front
// ends make their controls from the design, convert pixels to twips, run LayOut and move the
// controls by what comes back; the rule can be checked without a display.
#pragma once

#include <string_view>

namespace window {

// The form as designed, in twips: its inner size, and each control's caption and place. Both
// front ends make their controls from these; LayOut then moves them with the window's size.
inline constexpr int kDesignWidth = 9300;
inline constexpr int kDesignHeight = 6375;

struct DesignedControl {
  std::u16string_view caption;
  int left, top, width, height;
};

inline constexpr DesignedControl kTxtDesign{u"", 120, 120, 6255, 4695};
inline constexpr DesignedControl kLabel1Design{u"每行一条记录，格式为:", 120, 4920, 1890, 180};
inline constexpr DesignedControl kLabel2Design{u"问题###答案", 2040, 4920, 990, 180};
inline constexpr DesignedControl kLabel3Design[2] = {{u"重新加载", 4680, 4920, 720, 180},
                                                     {u"保存修改", 5640, 4920, 720, 180}};

// Twips to pixels at dpi dots per inch (1440 twips an inch), and back; rounded to the nearest,
// so that a round trip stays within one unit.
int TwipsToPixels(int twips, int dpi);
int PixelsToTwips(int pixels, int dpi);

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
