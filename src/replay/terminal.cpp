#include "replay/terminal.h"

#include <unistd.h>

namespace kestrun {
namespace {

void MakeRaw(int fd, termios mode) {
    mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    mode.c_cc[VMIN] = 0;
    mode.c_cc[VTIME] = 0;
    static_cast<void>(::tcsetattr(fd, TCSANOW, &mode));
}

}  // namespace

std::unique_ptr<RawTerminal> RawTerminal::Enter(int fd) {
    termios saved{};
    if (!::isatty(fd) || ::tcgetpgrp(fd) != ::getpgrp() || ::tcgetattr(fd, &saved) != 0) {
        return nullptr;
    }
    MakeRaw(fd, saved);
    return std::unique_ptr<RawTerminal>(new RawTerminal(fd, saved));
}

RawTerminal::~RawTerminal() {
    Suspend();
}

void RawTerminal::Suspend() {
    static_cast<void>(::tcsetattr(fd_, TCSANOW, &saved_));
}

void RawTerminal::Resume() {
    // After a stop the shell may have given the terminal to another job.
    if (::tcgetpgrp(fd_) == ::getpgrp()) MakeRaw(fd_, saved_);
}

void KeyDecoder::Feed(char byte, std::vector<Key>& keys) {
    switch (state_) {
        case State::kEscape:
            if (byte == '[' || byte == 'O') {
                state_ = State::kSequence;
                return;
            }
            state_ = State::kPlain;
            break;  // a lone Escape; the byte is a key of its own
        case State::kSequence:
            // Parameters and intermediates until the final byte.
            if (byte >= 0x40 && byte <= 0x7E) {
                state_ = State::kPlain;
                if (byte == 'C') keys.push_back(Key::kForward);
                if (byte == 'D') keys.push_back(Key::kBack);
            }
            return;
        case State::kPlain:
            break;
    }
    switch (byte) {
        case '\x1b':
            state_ = State::kEscape;
            break;
        case ' ':
            keys.push_back(Key::kPause);
            break;
        case 'q':
        case 'Q':
            keys.push_back(Key::kQuit);
            break;
        case '+':
        case '=':
            keys.push_back(Key::kFaster);
            break;
        case '-':
        case '_':
            keys.push_back(Key::kSlower);
            break;
        default:
            break;
    }
}

}  // namespace kestrun
