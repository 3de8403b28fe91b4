// SPDX-License-Identifier: GPL-3.0-or-later
// The version record of the quillora executable. The numbers come from the project's
// version in the top-level CMakeLists.txt, passed in as compile definitions.
#include "about/VersionRecord.h"

namespace {

constexpr VersionRecord::Entry kStrings[] = {
    {"CompanyName", "The Quillora developers"},
    {"FileDescription", "Scanning wizard"},
    {"FileVersion", QUILLORA_VERSION_TEXT},
    {"InternalName", "quillora"},
    {"LegalCopyright", "Copyright (C) 2026 The Quillora developers"},
    {"LegalTrademarks", ""},
    {"OriginalFilename", "quillora"},
    {"ProductName", "Quillora"},
    {"ProductVersion", QUILLORA_VERSION_TEXT},
    {"Comments", ""},
};

constexpr VersionRecord::Layout kLayout{
    {QUILLORA_VERSION_MAJOR, QUILLORA_VERSION_MINOR, QUILLORA_VERSION_PATCH, QUILLORA_VERSION_TWEAK},
    0x0409, 0x04E4, "040904E4", kStrings, std::size(kStrings)};

QUILLORA_VERSION_RECORD(kProgramVersionRecord, kLayout);

} // namespace
