// The layout rule on twips, without a display.
#include <gtest/gtest.h>

#include "window/layout.h"

namespace {

struct Case {
  const char* name;
  window::LayoutInput size;
  int txtWidth, txtHeight, labelTop, saveLeft, reloadLeft;
};

TEST(LayOut, PlacesControlsByTheRule) {
  const Case cases[] = {
      {"design size", {9300, 6375, 9540}, 9300, 6025, 6115, 8540, 7540},
      {"outer width differs from inner", {9300, 6375, 9300}, 9300, 6025, 6115, 8300, 7300},
      {"narrower than 2000", {1500, 6375, 1740}, 1500, 6025, 6115, 740, -260},
      {"very narrow", {300, 6375, 500}, 300, 6025, 6115, -500, -1500},
      {"exactly the strip", {9300, 350, 9540}, 9300, 0, 90, 8540, 7540},
      {"below the strip", {9300, 200, 9540}, 9300, 0, -60, 8540, 7540},
      {"zero", {0, 0, 0}, 0, 0, -260, -1000, -2000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const window::Layout out = window::LayOut(c.size);
    EXPECT_EQ(out.txtWidth, c.txtWidth);
    EXPECT_EQ(out.txtHeight, c.txtHeight);
    EXPECT_EQ(out.label1Top, c.labelTop);
    EXPECT_EQ(out.label2Top, c.labelTop);
    EXPECT_EQ(out.label3Top[0], c.labelTop);
    EXPECT_EQ(out.label3Top[1], c.labelTop);
    EXPECT_EQ(out.label3Left[1], c.saveLeft);
    EXPECT_EQ(out.label3Left[0], c.reloadLeft);
  }
}

}  // namespace
