#pragma once
// The recorder window's look in one table: every control's caption (the
// texts themselves live with the window's logic, in status_texts.h) and its
// place and size in twips, relative to the widget it sits in. Nothing else in
// the Qt layer repeats these numbers.
//
// Twips are converted at 15 to a device-independent pixel (96 dpi); Qt scales
// those pixels on high-dpi screens.

#include <QRect>
#include <QSize>

#include "window/status_texts.h"

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

inline constexpr int kClientWidthTwips = 6525;
inline constexpr int kClientHeightTwips = 3465;

// Children of the window itself.
inline constexpr ControlLook kPicture1{"", {120, 120, 2895, 1215}};
inline constexpr ControlLook kLabel1{kTitleCaption.data(), {3240, 120, 3135, 1215}};
inline constexpr ControlLook kFrame3{kControlsFrameCaption.data(), {120, 1440, 6255, 1215}};
// The four connection and run buttons belong to the window, drawn over the
// upper part of Frame3.
inline constexpr ControlLook kConnect{kConnectCaption.data(), {360, 1680, 1335, 375}};
inline constexpr ControlLook kDisconnect{kDisconnectCaption.data(), {1800, 1680, 1335, 375}};
inline constexpr ControlLook kCmdRecord{kRecordCaption.data(), {3360, 1680, 1335, 375}};
inline constexpr ControlLook kCmdStop{kStopCaption.data(), {4800, 1680, 1335, 375}};
inline constexpr ControlLook kFrame1{kStatusFrameCaption.data(), {120, 2760, 6255, 615}};
// Children of Frame3.
inline constexpr ControlLook kChkOverwrite{kOverwriteCaption.data(), {240, 780, 4695, 255}};
inline constexpr ControlLook kCmdSetPath{kSetPathCaption.data(), {4680, 720, 1335, 375}};
// Child of Frame1.
inline constexpr ControlLook kLblStatus{kNotConnectedText.data(), {120, 240, 5895, 255}};

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
