#pragma once
// A group box whose caption is set into its top edge, the way the recorder's
// frames are drawn: the edge runs through the middle of the caption, so that
// controls placed a little below the top sit inside the frame rather than
// across its edge.

#include <QGroupBox>

namespace kestrun::qt {

class CaptionedFrame final : public QGroupBox {
  public:
    using QGroupBox::QGroupBox;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace kestrun::qt
