#include "link/general.h"

namespace kestrun {

void General::FillResultMessages() {
    ResultMessages = {
        "Okay",
        "Attempt to Open when already Open",
        "Cannot link to the simulator host or network client",
        "Failed to Register common message with Windows",
        "Failed to create Atom for mapping filename",
        "Failed to create a file mapping object",
        "Failed to open a view to the file map",
        "Incorrect version of the simulator host, or not the simulator host",
        "Sim is not version requested",
        "Call cannot execute, link not Open",
        "Call cannot execute: no requests accumulated",
        "IPC timed out all retries",
        "IPC sendmessage failed all retries",
        "IPC request contains bad data",
        "Maybe running on the network client, but FS not running on Server, or wrong simulator "
        "host",
        "Read or Write request cannot be added, memory for Process is full",
    };
}

const std::string& General::ResultMessage(LinkResult result) const {
    static const std::string kNoText;
    if (result < 0 || result >= kResultCount) return kNoText;
    return ResultMessages[static_cast<std::size_t>(result)];
}

}  // namespace kestrun
