#include "tests/support/fake_link_platform.h"

#include <fmt/format.h>

#include <algorithm>
#include <utility>

#include "host/block_server.h"
#include "protocol/frame.h"
#include "protocol/host_units.h"
#include "protocol/request_block.h"

namespace kestrun {

FakeLinkPlatform::FakeLinkPlatform() {
    present_classes_.insert(std::string(kHostWindowClass));
    SetVersions(kDefaultHostVersion, kDefaultSimulatorWord);
}

void FakeLinkPlatform::SetWindow(std::string_view window_class, bool present) {
    if (present) {
        present_classes_.insert(std::string(window_class));
    } else {
        present_classes_.erase(std::string(window_class));
    }
}

void FakeLinkPlatform::HostGoesAway() {
    host_gone_ = true;
    present_classes_.clear();
}

void FakeLinkPlatform::SetVersions(std::uint32_t host_version, std::uint32_t simulator_word) {
    image_.SetU32(kOffsetHostVersion, host_version);
    image_.SetU32(kOffsetSimulatorVersion, simulator_word);
}

void FakeLinkPlatform::ScriptReplies(std::vector<HostReply> replies) {
    for (auto& reply : replies) script_.push_back(std::move(reply));
}

std::vector<std::string> FakeLinkPlatform::Calls(std::string_view call) const {
    std::vector<std::string> found;
    for (const std::string& line : log_) {
        if (line == call || line.starts_with(std::string(call) + ' ')) found.push_back(line);
    }
    return found;
}

WindowHandle FakeLinkPlatform::FindHostWindow(std::string_view window_class) {
    log_.push_back(fmt::format("FindHostWindow {}", window_class));
    if (!present_classes_.contains(window_class)) return 0;
    windows_.insert(next_window_);
    return next_window_++;
}

void FakeLinkPlatform::ReleaseWindow(WindowHandle window) {
    log_.push_back(fmt::format("ReleaseWindow {:X}", window));
    Release(windows_, window);
}

std::uint32_t FakeLinkPlatform::RegisterMessage(std::string_view name) {
    log_.push_back(fmt::format("RegisterMessage {}", name));
    return faults.register_message ? 0 : RegisteredMessageNumber(name);
}

std::uint32_t FakeLinkPlatform::CurrentProcessId() {
    log_.push_back("CurrentProcessId");
    return 0x1A2B;
}

std::uint16_t FakeLinkPlatform::AddAtom(std::string_view name) {
    log_.push_back(fmt::format("AddAtom {}", name));
    if (faults.add_atom) return 0;
    atoms_.emplace(next_atom_, std::string(name));
    return next_atom_++;
}

void FakeLinkPlatform::DeleteAtom(std::uint16_t atom) {
    log_.push_back(fmt::format("DeleteAtom {:04X}", atom));
    Release(atoms_, atom);
}

MappingHandleValue FakeLinkPlatform::CreateMapping(std::string_view name, std::uint32_t size) {
    log_.push_back(fmt::format("CreateMapping {} {}", name, size));
    last_error_ = faults.create_mapping ? 12 : faults.mapping_exists ? kErrorAlreadyExists : 0;
    if (faults.create_mapping) return 0;  // ENOMEM
    mappings_.emplace(next_mapping_, Mapping{std::string(name), std::vector<std::byte>(size)});
    return next_mapping_++;
}

std::byte* FakeLinkPlatform::MapView(MappingHandleValue mapping) {
    log_.push_back(fmt::format("MapView {:X}", mapping));
    const auto found = mappings_.find(mapping);
    if (faults.map_view || found == mappings_.end()) return nullptr;
    View view{mapping, std::vector<std::byte>(found->second.bytes.size())};
    return views_.emplace(view.bytes.data(), std::move(view)).first->first;
}

void FakeLinkPlatform::UnmapView(std::byte* view) {
    log_.push_back("UnmapView");
    Release(views_, view);
}

FakeLinkPlatform::Mapping* FakeLinkPlatform::MappingOf(std::byte* view) {
    const auto found = views_.find(view);
    if (found == views_.end()) return nullptr;
    const auto mapping = mappings_.find(found->second.mapping);
    return mapping == mappings_.end() ? nullptr : &mapping->second;
}

bool FakeLinkPlatform::FlushView(std::byte* view, std::size_t length) {
    Mapping* mapping = MappingOf(view);
    if (mapping == nullptr || faults.flush_view || length > mapping->bytes.size()) {
        last_error_ = 28;  // ENOSPC
        return false;
    }
    std::copy_n(view, length, mapping->bytes.begin());
    return true;
}

bool FakeLinkPlatform::RefreshView(std::byte* view, std::size_t length) {
    Mapping* mapping = MappingOf(view);
    if (mapping == nullptr || faults.refresh_view || length > mapping->bytes.size()) {
        last_error_ = 5;  // EIO
        return false;
    }
    std::copy_n(mapping->bytes.begin(), length, view);
    return true;
}

void FakeLinkPlatform::CloseMapping(MappingHandleValue mapping) {
    log_.push_back(fmt::format("CloseMapping {:X}", mapping));
    Release(mappings_, mapping);
}

bool FakeLinkPlatform::SendMessageTimeout(WindowHandle window, std::uint32_t message,
                                          std::int32_t wparam, std::int32_t lparam,
                                          std::uint32_t timeout_ms, std::int32_t& answer) {
    log_.push_back(fmt::format("SendMessageTimeout {:X} {:X} {:08X} {} {}", window, message,
                               static_cast<std::uint32_t>(wparam), lparam, timeout_ms));
    ++sends_;
    HostReply reply = script_.empty() ? default_reply : std::move(script_.front());
    if (!script_.empty()) script_.pop_front();
    if (host_gone_) reply = HostReply::Fail(kFakeConnectionReset);
    if (!windows_.contains(window)) reply = HostReply::Fail(9);  // EBADF: no such window

    // Like a real host: the atom is the low 16 bits of the parameter, and its
    // string names the block.
    std::vector<std::byte>* shared = nullptr;
    const auto atom = atoms_.find(static_cast<std::uint16_t>(wparam & 0xFFFF));
    if (message == RegisteredMessageNumber(kExchangeMessageName) && atom != atoms_.end()) {
        for (auto& [handle, mapping] : mappings_) {
            if (mapping.name == atom->second) shared = &mapping.bytes;
        }
    }
    std::span<std::byte> block;
    if (shared != nullptr) block = *shared;
    if (!block.empty() && reply.kind != HostReply::Kind::kFail) {
        last_block_.assign(block.begin(), block.end());
    }

    switch (reply.kind) {
        case HostReply::Kind::kTimeOut:
            elapsed_ms_ += timeout_ms;
            last_error_ = 0;
            return false;
        case HostReply::Kind::kFail:
            last_error_ = static_cast<std::uint32_t>(reply.value);
            return false;
        case HostReply::Kind::kAnswer:
            answer = reply.value;
            return true;
        case HostReply::Kind::kServe:
            answer = block.empty() ? kAnswerRefused : ServeBlock(block, image_);
            if (reply.damage && !block.empty()) reply.damage(block);
            return true;
    }
    return false;
}

std::uint32_t FakeLinkPlatform::LastError() {
    log_.push_back("LastError");
    return last_error_;
}

void FakeLinkPlatform::Sleep(std::uint32_t milliseconds) {
    log_.push_back(fmt::format("Sleep {}", milliseconds));
    elapsed_ms_ += milliseconds;
}

}  // namespace kestrun
