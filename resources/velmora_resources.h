// Where Velmora's compiled-in images live in the Qt resource system.
#pragma once

namespace velmora::resources {

// The pointing-hand cursor shown over links (a .cur, read by Qt's ico
// plugin). The file carries its hot spot for Windows only, so Qt code
// passes it explicitly:
//   QCursor(QPixmap(kLinkCursor), kLinkCursorHotSpotX, kLinkCursorHotSpotY)
inline constexpr char kLinkCursor[] = ":/cursors/101";
inline constexpr int kLinkCursorHotSpotX = 6;
inline constexpr int kLinkCursorHotSpotY = 0;

// The program icon: 16, 32 and 48 px. QIcon(kAppIcon) keeps the deepest
// colour version of each size.
inline constexpr char kAppIcon[] = ":/icons/app";

// The 24 px title-bar icon.
inline constexpr char kWindowIcon[] = ":/icons/window";

}  // namespace velmora::resources
