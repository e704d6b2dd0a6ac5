#include "recording/previous_flight.h"

#include <fmt/core.h>

#include "record/flight_record.h"

namespace kestrun {

std::filesystem::path KeptFlightName(const std::filesystem::path& path, const std::tm& modified,
                                     int choice) {
    char stamp[32] = {};
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H-%M-%S", &modified);
    std::string name = fmt::format("{}-{}", path.stem().string(), stamp);
    if (choice > 0) name += fmt::format("-{}", choice);
    name += path.extension().string();
    return path.parent_path() / name;
}

Status StartAfresh(FileSystem& files, Clock& clock, const std::filesystem::path& path,
                   std::unique_ptr<OutputFile>& file, std::filesystem::path& kept_as) {
    kept_as.clear();
    FileFacts facts;
    if (Status examined = file->Facts(facts); !examined.ok()) return examined;
    // Less than a record is no flight: the file is simply emptied.
    if (facts.size < kFlightRecordSize) return file->Truncate(0);

    const std::tm modified = clock.LocalCalendarTime(facts.modified_seconds);
    constexpr int kChoices = 1000;
    std::filesystem::path kept;
    Kept how = Kept::kTaken;
    for (int choice = 0; choice < kChoices && how == Kept::kTaken; ++choice) {
        kept = KeptFlightName(path, modified, choice);
        if (Status linked = files.KeepAs(path, kept, how); !linked.ok()) return linked;
    }
    if (how == Kept::kTaken) {
        return Status::Error(
            fmt::format("cannot keep the previous flight of {}: {} and {} more "
                        "names for it are taken",
                        path.string(), KeptFlightName(path, modified, 0).string(), kChoices - 1));
    }
    std::unique_ptr<OutputFile> fresh;
    if (Status replaced = files.ReplaceWithOutputFile(path, fresh); !replaced.ok()) {
        // Undo the keeping, so a refused start changes nothing.
        const Status undone = how == Kept::kLinked ? files.Remove(kept) : files.Rename(kept, path);
        if (!undone.ok()) {
            return Status::Error(fmt::format("{} (the previous flight is in {})",
                                             replaced.message(), kept.string()));
        }
        return replaced;
    }
    // The old file, now only under its kept name, lets go of its lock.
    (void)file->Close();
    file = std::move(fresh);
    kept_as = std::move(kept);
    return Status::Ok();
}

}  // namespace kestrun
