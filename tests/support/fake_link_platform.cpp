#include "tests/support/fake_link_platform.h"

#include <fmt/format.h>

#include <algorithm>
#include <utility>

#include "host/block_server.h"
#include "protocol/frame.h"
#include "protocol/host_units.h"

namespace kestrun {

FakeLinkPlatform::FakeLinkPlatform() {
    present_classes_.insert(std::string(kHostWindowClass));
    SetVersions(kDefaultHostVersion, kDefaultSimulatorWord);
}

void FakeLinkPlatform::SetWindow(std::string_view window_class, bool present) {
    if (present) {
        present_classes_.insert(std::string(window_class));
    } else if (auto found = present_classes_.find(window_class); found != present_classes_.end()) {
        present_classes_.erase(found);
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
    for (const auto& line : log_) {
        const std::string_view view(line);
        if (view.substr(0, call.size()) == call &&
            (view.size() == call.size() || view[call.size()] == ' ')) {
            found.push_back(line);
        }
    }
    return found;
}

int FakeLinkPlatform::CountCalls(std::string_view call) const {
    return static_cast<int>(Calls(call).size());
}

WindowHandle FakeLinkPlatform::FindHostWindow(std::string_view window_class) {
    Log(fmt::format("FindHostWindow {}", window_class));
    if (!present_classes_.contains(window_class)) return 0;
    const WindowHandle window = next_window_++;
    windows_.emplace(window, std::string(window_class));
    return window;
}

void FakeLinkPlatform::ReleaseWindow(WindowHandle window) {
    Log(fmt::format("ReleaseWindow {:X}", window));
    if (windows_.erase(window) == 0) ++bad_releases_;
}

std::uint32_t FakeLinkPlatform::RegisterMessage(std::string_view name) {
    Log(fmt::format("RegisterMessage {}", name));
    return faults.register_message ? 0 : RegisteredMessageNumber(name);
}

std::uint32_t FakeLinkPlatform::CurrentProcessId() {
    Log("CurrentProcessId");
    return process_id;
}

std::uint16_t FakeLinkPlatform::AddAtom(std::string_view name) {
    Log(fmt::format("AddAtom {}", name));
    if (faults.add_atom) return 0;
    for (const auto& [atom, text] : atoms_) {
        if (text == name) return atom;
    }
    for (std::uint32_t atom = kFirstAtom; atom <= 0xFFFF; ++atom) {
        const auto value = static_cast<std::uint16_t>(atom);
        if (!atoms_.contains(value)) {
            atoms_.emplace(value, std::string(name));
            return value;
        }
    }
    return 0;
}

void FakeLinkPlatform::DeleteAtom(std::uint16_t atom) {
    Log(fmt::format("DeleteAtom {:04X}", atom));
    if (atoms_.erase(atom) == 0) ++bad_releases_;
}

MappingHandleValue FakeLinkPlatform::CreateMapping(std::string_view name, std::uint32_t size) {
    Log(fmt::format("CreateMapping {} {}", name, size));
    if (faults.create_mapping) {
        last_error_ = kFakeNoMemory;
        return 0;
    }
    const bool taken = faults.mapping_exists ||
                       std::any_of(mappings_.begin(), mappings_.end(),
                                   [&](const auto& entry) { return entry.second.name == name; });
    const MappingHandleValue handle = next_mapping_++;
    Mapping mapping{std::string(name), size, std::make_unique<std::byte[]>(size)};
    mappings_.emplace(handle, std::move(mapping));
    last_error_ = taken ? kErrorAlreadyExists : 0;
    return handle;
}

std::byte* FakeLinkPlatform::MapView(MappingHandleValue mapping) {
    Log(fmt::format("MapView {:X}", mapping));
    const auto found = mappings_.find(mapping);
    if (faults.map_view || found == mappings_.end()) return nullptr;
    std::byte* view = found->second.bytes.get();
    views_.emplace(view, mapping);
    return view;
}

void FakeLinkPlatform::UnmapView(std::byte* view) {
    Log("UnmapView");
    if (views_.erase(view) == 0) ++bad_releases_;
}

void FakeLinkPlatform::CloseMapping(MappingHandleValue mapping) {
    Log(fmt::format("CloseMapping {:X}", mapping));
    if (mappings_.erase(mapping) == 0) ++bad_releases_;
}

std::span<std::byte> FakeLinkPlatform::ResolveBlock(std::int32_t wparam) {
    // Like a real host: the atom is the low 16 bits of the parameter, and its
    // string names the block.
    const auto atom = atoms_.find(static_cast<std::uint16_t>(wparam & 0xFFFF));
    if (atom == atoms_.end()) return {};
    for (auto& [handle, mapping] : mappings_) {
        if (mapping.name == atom->second) return {mapping.bytes.get(), mapping.size};
    }
    return {};
}

bool FakeLinkPlatform::SendMessageTimeout(WindowHandle window, std::uint32_t message,
                                          std::int32_t wparam, std::int32_t lparam,
                                          std::uint32_t timeout_ms, std::int32_t& answer) {
    Log(fmt::format("SendMessageTimeout {:X} {:X} {:08X} {} {}", window, message,
                    static_cast<std::uint32_t>(wparam), lparam, timeout_ms));
    ++sends_;
    last_wparam_ = wparam;
    if (before_send) before_send(sends_, image_);

    HostReply reply = default_reply;
    if (!script_.empty()) {
        reply = std::move(script_.front());
        script_.pop_front();
    }
    if (host_gone_) reply = HostReply::Fail(kFakeConnectionReset);
    if (!windows_.contains(window)) reply = HostReply::Fail(kFakeBadHandle);

    const bool recognised = message == RegisteredMessageNumber(kExchangeMessageName);
    const std::span<std::byte> block = recognised ? ResolveBlock(wparam) : std::span<std::byte>{};
    if (!block.empty() && reply.kind != HostReply::Kind::kFail) {
        sent_blocks_.emplace_back(block.begin(), block.end());
        if (sent_blocks_.size() > kKeptBlocks) sent_blocks_.pop_front();
    }

    switch (reply.kind) {
        case HostReply::Kind::kTimeOut:
            elapsed_ms_ += timeout_ms;
            last_error_ = 0;
            return false;
        case HostReply::Kind::kFail:
            last_error_ = reply.error;
            return false;
        case HostReply::Kind::kAnswer:
            answer = reply.answer;
            return true;
        case HostReply::Kind::kServe:
        case HostReply::Kind::kServeAndDamage:
            answer = block.empty() ? kAnswerRefused : ServeBlock(block, image_);
            if (reply.damage && !block.empty()) reply.damage(block);
            return true;
    }
    return false;
}

std::uint32_t FakeLinkPlatform::LastError() {
    Log("LastError");
    return last_error_;
}

void FakeLinkPlatform::Sleep(std::uint32_t milliseconds) {
    Log(fmt::format("Sleep {}", milliseconds));
    elapsed_ms_ += milliseconds;
}

}  // namespace kestrun
