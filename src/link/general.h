#pragma once
// Module General: the texts the window shows for each LinkResult.

#include <array>
#include <string>

#include "link/link_result.h"

namespace kestrun {

class General {
  public:
    // Stores the sixteen texts at indices 0 to 15. Called once at load.
    void FillResultMessages();
    // The text for `result`; a code outside 0..15 (which no operation stores)
    // gives an empty text rather than reading past the table.
    const std::string& ResultMessage(LinkResult result) const;

    std::array<std::string, kResultCount> ResultMessages;
};

}  // namespace kestrun
