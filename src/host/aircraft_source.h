#pragma once
// Whatever moves the host's flight values: the simulated aircraft, or a feed
// from a real simulator. The host's poll loop calls Update at least ten times
// a second.

#include "host/offset_image.h"

namespace kestrun {

class AircraftSource {
  public:
    virtual ~AircraftSource() = default;

    // Brings the aircraft to `now_seconds` (a steady clock with any origin;
    // calls come in increasing order) and writes its state into `image`.
    virtual void Update(double now_seconds, OffsetImage& image) = 0;
};

}  // namespace kestrun
