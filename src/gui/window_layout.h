#pragma once
// The recorder window's look in one table: every control's caption and its
// place and size in twips, relative to the widget it sits in. Nothing else in
// the Qt layer repeats these numbers.
//
// Twips are converted at 15 to a device-independent pixel (96 dpi); Qt scales
// those pixels on high-dpi screens.

#include <QRect>
#include <QSize>

namespace kestrun::qt {

inline constexpr int kTwipsPerPixel = 15;

struct TwipRect {
    int left;
    int top;
    int width;
    int height;
};

struct ControlLook {
    const char* caption;  // Empty for controls without text.
    TwipRect place;       // Relative to the parent named in the comment.
};

inline constexpr const char* kWindowCaption = "Kestrun Digital Flight Recorder (v1.0)";
inline constexpr int kClientWidthTwips = 6525;
inline constexpr int kClientHeightTwips = 3465;

// Children of the window itself.
inline constexpr ControlLook kPicture1{"", {120, 120, 2895, 1215}};
inline constexpr ControlLook kLabel1{"Digital Flight Recorder", {3240, 120, 3135, 1215}};
inline constexpr ControlLook kFrame3{"Recorder Controls", {120, 1440, 6255, 1215}};
// The four connection and run buttons belong to the window, drawn over the
// upper part of Frame3.
inline constexpr ControlLook kConnect{"Connect to FS", {360, 1680, 1335, 375}};
inline constexpr ControlLook kDisconnect{"Disconnect", {1800, 1680, 1335, 375}};
inline constexpr ControlLook kCmdRecord{"Start Recording", {3360, 1680, 1335, 375}};
inline constexpr ControlLook kCmdStop{"Stop Recording", {4800, 1680, 1335, 375}};
inline constexpr ControlLook kFrame1{"Status", {120, 2760, 6255, 615}};
// Children of Frame3.
inline constexpr ControlLook kChkOverwrite{"Overwrite Previous Output File When Recording Started",
                                           {240, 780, 4695, 255}};
inline constexpr ControlLook kCmdSetPath{"Set Output File", {4680, 720, 1335, 375}};
// Child of Frame1.
inline constexpr ControlLook kLblStatus{"Not Connected to Flight Simulator", {120, 240, 5895, 255}};

// The window's font, bold and large for the title: asked for by name, then
// by metric-compatible stand-ins that Linux desktops usually have, then any
// sans-serif face.
inline constexpr const char* kFontFamilies[] = {
    "MS Sans Serif", "Microsoft Sans Serif", "Arial", "Liberation Sans", "Helvetica", "sans-serif"};
inline constexpr int kTitlePointSize = 24;
inline constexpr int kControlPointSize = 8;

constexpr int TwipsToPixels(int twips) {
    return twips / kTwipsPerPixel;
}

inline QRect ToPixels(const TwipRect& twips) {
    return QRect(TwipsToPixels(twips.left), TwipsToPixels(twips.top), TwipsToPixels(twips.width),
                 TwipsToPixels(twips.height));
}

inline QSize ClientSizePixels() {
    return QSize(TwipsToPixels(kClientWidthTwips), TwipsToPixels(kClientHeightTwips));
}

}  // namespace kestrun::qt
