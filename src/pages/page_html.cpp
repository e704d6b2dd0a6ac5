#include "pages/page_html.h"

#include <fmt/format.h>

#include <algorithm>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

#include "pages/page_assets.h"

namespace kestrun {
namespace {

std::string HtmlText(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// Fills each {{name}} slot of `page` from `slots`, in one pass over the
// template, so that a value holding "{{" is never taken for a slot. The slots
// are ours: one without a value, or a value without its slot, is a fault in
// the assets that the first test writing a page finds.
std::string FillSlots(std::string_view page,
                      const std::vector<std::pair<std::string_view, std::string>>& slots) {
    std::string out;
    std::set<std::string_view> used;
    std::size_t at = 0;
    for (std::size_t open; (open = page.find("{{", at)) != std::string_view::npos;) {
        const std::size_t close = page.find("}}", open);
        if (close == std::string_view::npos) break;
        const std::string_view name = page.substr(open + 2, close - open - 2);
        const auto slot = std::find_if(slots.begin(), slots.end(),
                                       [&](const auto& s) { return s.first == name; });
        if (slot == slots.end())
            throw std::logic_error(fmt::format("no value for {{{{{}}}}}", name));
        out.append(page.substr(at, open - at)).append(slot->second);
        used.insert(name);
        at = close + 2;
    }
    if (used.size() != slots.size()) throw std::logic_error("a page template lacks a slot");
    return out.append(page.substr(at));
}

std::string Route(const Json& flight) {
    const auto place = [](const Json& ident) {
        const std::string text = ident.is_string() ? ident.get<std::string>() : "";
        return text.empty() ? std::string("?") : text;
    };
    return place(flight.at("departure")) + " to " + place(flight.at("arrival"));
}

}  // namespace

std::string FlightPageName(std::int64_t flight_id) {
    return fmt::format("flight-{}.html", flight_id);
}

std::string ScriptSafeJson(std::string_view json) {
    std::string out;
    out.reserve(json.size());
    // Copied a stretch at a time: a long flight's samples hold no '<' at all.
    for (std::size_t at = 0; at < json.size();) {
        const std::size_t angle = std::min(json.find('<', at), json.size());
        out.append(json.substr(at, angle - at));
        if (angle < json.size()) out += "\\u003c";
        at = angle + 1;
    }
    return out;
}

std::string FlightPageHtml(const Json& flight, std::string_view samples_json, bool in_folder) {
    const std::string title =
        fmt::format("Flight {} on {}: {}", flight.at("id").get<std::int64_t>(),
                    flight.at("date").get<std::string>(), Route(flight));
    return FillSlots(
        page_assets::kFlightHtml,
        {{"title", HtmlText(title)},
         {"style", std::string(page_assets::kPagesCss)},
         {"index_link", in_folder ? "<a href=\"index.html\">All flights</a>" : ""},
         {"flight", ScriptSafeJson(JsonText(flight))},
         {"samples", ScriptSafeJson(samples_json)},
         {"script", std::string(page_assets::kCommonJs) + std::string(page_assets::kFlightJs)}});
}

std::string IndexPageHtml(const Json& flights, std::string_view stats_json) {
    return FillSlots(page_assets::kIndexHtml, {{"style", std::string(page_assets::kPagesCss)},
                                               {"flights", ScriptSafeJson(JsonText(flights))},
                                               {"stats", ScriptSafeJson(stats_json)},
                                               {"script", std::string(page_assets::kCommonJs) +
                                                              std::string(page_assets::kIndexJs)}});
}

}  // namespace kestrun
