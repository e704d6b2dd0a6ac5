#pragma once
// The replay's terminal: keys without Enter and without echo, and the keys
// it understands.

#include <termios.h>

#include <memory>
#include <vector>

namespace kestrun {

// Holds a terminal in non-canonical mode without echo and puts it back as it
// was when destroyed or suspended. Ctrl-C and Ctrl-Z still send their signals.
class RawTerminal {
  public:
    // Null unless `fd` is a terminal and this process is in its foreground
    // (a background process that touches its terminal is stopped).
    static std::unique_ptr<RawTerminal> Enter(int fd);
    ~RawTerminal();
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;

    // Back to the saved mode (before the process stops), and raw again after.
    void Suspend();
    void Resume();

  private:
    RawTerminal(int fd, const termios& saved) : fd_(fd), saved_(saved) {}
    int fd_;
    termios saved_;
};

enum class Key { kPause, kBack, kForward, kFaster, kSlower, kQuit };

// Turns the bytes typed into keys: space, q, + (or =), -, and the left and
// right arrows in either of the two forms terminals send. Escape sequences
// may arrive split across reads; anything else is ignored.
class KeyDecoder {
  public:
    void Feed(char byte, std::vector<Key>& keys);

  private:
    enum class State { kPlain, kEscape, kSequence };
    State state_ = State::kPlain;
};

}  // namespace kestrun
