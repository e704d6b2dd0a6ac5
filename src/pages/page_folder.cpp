#include "pages/page_folder.h"

#include <fmt/format.h>

#include <charconv>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "logbook/flight_json.h"
#include "logbook/judgement_rows.h"
#include "logbook/logbook_output.h"
#include "logbook/logbook_store.h"
#include "logbook/runways.h"
#include "pages/flight_samples.h"
#include "pages/page_assets.h"
#include "pages/page_html.h"

namespace kestrun {
namespace {

// Remembers, per flight page, a fingerprint of everything the page was made
// from, so that the next run can tell which pages are stale.
constexpr const char* kManifest = ".kestrun-pages";
constexpr const char* kManifestHeader = "kestrun-pages 1";

std::uint64_t Fnv1a(std::string_view bytes, std::uint64_t hash = 14695981039346656037ULL) {
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

// The scripts and templates are part of every page: a kestrun-logbook with
// new ones rewrites them all.
std::uint64_t AssetsHash() {
    std::uint64_t hash = Fnv1a(kManifestHeader);
    for (const std::string_view asset : {page_assets::kFlightHtml, page_assets::kPagesCss,
                                         page_assets::kCommonJs, page_assets::kFlightJs}) {
        hash = Fnv1a(asset, hash);
    }
    return hash;
}

// The flight's logbook entry, where its records lie, and the page's assets.
// A re-scan that finds the flight again differently changes one of them.
std::string Fingerprint(const FlightRow& flight, const Json& show) {
    std::uint64_t hash = Fnv1a(JsonText(show), AssetsHash());
    hash = Fnv1a(fmt::format("{} {} {} {}", flight.file, flight.begin_offset, flight.end_offset,
                             flight.last_time),
                 hash);
    return fmt::format("{:016x}", hash);
}

std::map<std::int64_t, std::string> ReadManifest(FileSystem& files,
                                                 const std::filesystem::path& folder) {
    std::map<std::int64_t, std::string> pages;
    std::string text;
    bool found = false;
    // An unreadable or foreign manifest only costs rewriting every page.
    if (!files.ReadTextFile(folder / kManifest, text, found).ok() || !found) return pages;
    std::istringstream lines(text);
    std::string header;
    if (!std::getline(lines, header) || header != kManifestHeader) return pages;
    std::int64_t id = 0;
    std::string fingerprint;
    while (lines >> id >> fingerprint) pages[id] = fingerprint;
    return pages;
}

Status LoadShow(Database& db, const FlightRow& flight, Json& show) {
    std::vector<PhaseRow> phases;
    FlightJudgement judgement;
    Status status = LoadPhases(db, flight.id, phases);
    if (status.ok()) status = LoadJudgement(db, flight.id, judgement);
    if (status.ok()) show = FlightShowJson(flight, phases, judgement);
    // The page draws the runways of both ends of the route to scale.
    std::vector<Runway> runways;
    if (status.ok()) status = LoadAirportRunways(db, {flight.departure, flight.arrival}, runways);
    if (!status.ok()) return status;
    Json drawn = Json::array();
    for (const Runway& runway : runways) {
        Json ends = Json::array();
        for (const RunwayEnd& end : runway.ends) {
            ends.push_back({{"ident", end.ident},
                            {"lat", end.threshold.latitude_deg},
                            {"lon", end.threshold.longitude_deg},
                            {"displaced_m", end.displaced_m}});
        }
        drawn.push_back({{"airport", runway.airport}, {"width_m", runway.width_m}, {"ends", ends}});
    }
    show["runways"] = std::move(drawn);
    return status;
}

Status FlightHtml(const FlightRow& flight, const Json& show, bool in_folder, std::string& html) {
    std::string samples;
    const Status status = FlightSamplesJson(flight, samples);
    if (status.ok()) html = FlightPageHtml(show, samples, in_folder);
    return status;
}

// Only names of the form we write are ever removed: anything else in the
// folder is the pilot's own.
bool IsFlightPageName(const std::string& name) {
    std::int64_t id = 0;
    const char* digits = name.data() + 7;
    const char* end = name.data() + name.size();
    if (name.size() < 13 || name.compare(0, 7, "flight-") != 0) return false;
    const auto [stop, error] = std::from_chars(digits, end, id);
    return error == std::errc() && name == FlightPageName(id) && stop + 5 == end;
}

}  // namespace

std::string DefaultPagesFolder() {
    return (KestrunDataFolder() / "pages").string();
}

Status WritePagesFolder(Database& db, FileSystem& files, const std::filesystem::path& folder,
                        PagesWritten& written) {
    written = PagesWritten{};
    std::vector<FlightRow> flights;
    Status status = LoadFlights(db, FlightFilter{}, flights);
    if (status.ok()) status = files.CreatePrivateDirectories(folder);
    if (!status.ok()) return status;

    std::vector<FolderEntry> entries;
    status = files.ListFolder(folder, entries);
    if (!status.ok()) return status;
    std::vector<std::string> present;
    for (const FolderEntry& entry : entries) present.push_back(entry.name);
    const std::set<std::string> on_disk(present.begin(), present.end());
    const std::map<std::int64_t, std::string> before = ReadManifest(files, folder);

    std::string manifest = std::string(kManifestHeader) + "\n";
    Json list = Json::array();
    std::set<std::string> current;
    for (const FlightRow& flight : flights) {
        Json show;
        status = LoadShow(db, flight, show);
        if (!status.ok()) return status;
        const std::string name = FlightPageName(flight.id);
        const std::string fingerprint = Fingerprint(flight, show);
        const auto old = before.find(flight.id);
        if (old != before.end() && old->second == fingerprint && on_disk.count(name) > 0) {
            ++written.unchanged;
        } else {
            std::string html;
            status = FlightHtml(flight, show, true, html);
            if (status.ok()) status = files.WriteTextFile(folder / name, html);
            if (!status.ok()) return status;
            ++written.written;
        }
        manifest += fmt::format("{} {}\n", flight.id, fingerprint);
        current.insert(name);
        list.push_back(FlightListJson(flight));
    }

    status = files.WriteTextFile(folder / "index.html",
                                 IndexPageHtml(list, FormatStats(flights, TableFormat::kJson)));
    if (status.ok()) status = files.WriteTextFile(folder / kManifest, manifest);
    if (!status.ok()) return status;

    for (const std::string& name : present) {
        if (!IsFlightPageName(name) || current.count(name) > 0) continue;
        status = files.Remove(folder / name);
        if (!status.ok()) return status;
        ++written.removed;
    }
    return Status::Ok();
}

Status WriteFlightPage(Database& db, FileSystem& files, std::int64_t id,
                       const std::filesystem::path& file) {
    std::optional<FlightRow> flight;
    Status status = LoadFlight(db, id, flight);
    if (!status.ok()) return status;
    if (!flight) return Status::Error(fmt::format("there is no flight {} in the logbook", id));
    Json show;
    std::string html;
    status = LoadShow(db, *flight, show);
    if (status.ok()) status = FlightHtml(*flight, show, false, html);
    if (status.ok()) status = files.WriteTextFile(file, html);
    return status;
}

}  // namespace kestrun
