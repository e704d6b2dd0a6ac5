// Fuzz target for the settings reader: whatever the settings file holds, the
// path read from it is a piece of one of its lines without the line end or
// outer spaces, and a path the recorder saves reads back as itself.
//
// Input: the file's contents.

#include <string>
#include <string_view>

#include "fuzz/fuzz_target.h"
#include "settings/settings_file.h"

using namespace kestrun;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view contents(reinterpret_cast<const char*>(data), size);
    if (const std::optional<std::string> path = ParseOutputFile(contents)) {
        Check(path->find('\n') == std::string::npos);
        Check(path->empty() || (path->front() != ' ' && path->back() != ' '));
        Check(*path == kDefaultOutputFile || contents.find(*path) != std::string_view::npos);
    }
    // Any saved path that is one line with no outer spaces comes back whole.
    std::string_view saved = contents.substr(0, contents.find_first_of("\r\n"));
    while (!saved.empty() && saved.front() == ' ') saved.remove_prefix(1);
    while (!saved.empty() && saved.back() == ' ') saved.remove_suffix(1);
    if (!saved.empty()) Check(ParseOutputFile(FormatSettings(saved)) == std::string(saved));
    return 0;
}

// Settings files as the recorder writes them and as a user may edit them.
std::vector<std::uint8_t> GenerateFuzzInput(std::mt19937& random) {
    static const char* const kLines[] = {"[OutputFile]",
                                         "[OutputFile] old",
                                         "[outputfile]",
                                         "",
                                         "   ",
                                         "checkride.dat",
                                         "  /data/my flight.dat  ",
                                         "\tx.dat\t",
                                         "C:\\flights\\a.dat",
                                         "[Other]",
                                         "key=value"};
    static const char* const kEnds[] = {"\r\n", "\n", "\r", ""};
    std::string file;
    for (auto lines = random() % 8; lines > 0; --lines) {
        file += kLines[random() % std::size(kLines)];
        file += kEnds[random() % (lines == 1 ? 4 : 2)];
    }
    return {file.begin(), file.end()};
}
