#pragma once
// The pages' templates, stylesheet and scripts, compiled in from
// src/pages/assets so that kestrun-logbook writes pages with nothing
// installed beside it.

#include <string_view>

namespace kestrun::page_assets {

extern const std::string_view kFlightHtml;  // a flight's page; {{...}} slots
extern const std::string_view kIndexHtml;   // the index; {{...}} slots
extern const std::string_view kPagesCss;    // both pages, screen and print
extern const std::string_view kCommonJs;    // formatting and data-key figures
extern const std::string_view kFlightJs;    // plan, profiles, cursor, landing
extern const std::string_view kIndexJs;     // the table: sort, filter

}  // namespace kestrun::page_assets
