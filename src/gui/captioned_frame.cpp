#include "gui/captioned_frame.h"

#include <qdrawutil.h>

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

namespace kestrun::qt {
namespace {
constexpr int kCaptionIndent = 6;
constexpr int kCaptionPadding = 2;
}  // namespace

void CaptionedFrame::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QFontMetrics metrics(font());

    // An etched edge in the palette's own shades.
    qDrawShadeRect(&painter, rect().adjusted(0, metrics.height() / 2, 0, 0), palette(),
                   /*sunken=*/true, /*lineWidth=*/1, /*midLineWidth=*/0);

    const QRect caption(kCaptionIndent, 0, metrics.horizontalAdvance(title()) + 2 * kCaptionPadding,
                        metrics.height());
    painter.fillRect(caption, palette().window());
    style()->drawItemText(&painter, caption, Qt::AlignCenter, palette(), isEnabled(), title(),
                          QPalette::WindowText);
}

}  // namespace kestrun::qt
