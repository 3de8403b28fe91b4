// SPDX-License-Identifier: GPL-3.0-or-later
// A shared object carrying a version record unlike the program's, selected by FIXTURE_KIND:
// 1 German translation entry, 2 table named in lower case, 3 a 300-character version,
// 0 no record at all.
#include "about/VersionRecord.h"

#include <array>

namespace {

constexpr auto kLongVersion = [] {
    std::array<char, 300> text{};
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = char('0' + i % 10);
    return text;
}();

#if FIXTURE_KIND == 1
constexpr VersionRecord::Entry kStrings[] = {{"FileVersion", "2.5.0.7"}};
constexpr VersionRecord::Layout kLayout{{2, 5, 0, 7}, 0x0407, 0x04E4, "040704E4", kStrings, 1};
#elif FIXTURE_KIND == 2
constexpr VersionRecord::Entry kStrings[] = {{"FileVersion", "1.17.0.0"}};
constexpr VersionRecord::Layout kLayout{{1, 17, 0, 0}, 0x0409, 0x04E4, "040904e4", kStrings, 1};
#elif FIXTURE_KIND == 3
constexpr VersionRecord::Entry kStrings[] = {
    {"FileVersion", std::string_view(kLongVersion.data(), kLongVersion.size())}};
constexpr VersionRecord::Layout kLayout{{1, 17, 0, 0}, 0x0409, 0x04E4, "040904E4", kStrings, 1};
#endif

#if FIXTURE_KIND != 0
QUILLORA_VERSION_RECORD(kRecord, kLayout);
#endif

} // namespace

extern "C" int quillora_version_fixture() { return FIXTURE_KIND + int(kLongVersion[0]); }
