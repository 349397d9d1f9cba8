#pragma once
// Where the block files go, chosen from the settings at start-up, and the check that the
// working folder's disk still has room, told to the user when it has not.

#include <cstdint>
#include <string>
#include <string_view>

namespace sonavel {

class SettingsReader;
class Ui;

// The default working folder (the per-user data folder), created if missing.
std::string DefaultWorkingFolder();
// Picks the working folder from the settings "UseDefaultWorkingDir" (default true) and
// "WorkingFolder" (default: the default folder) of group "Settings", creates it and
// makes it the working folder.
void ChooseWorkingFolder(const SettingsReader& settings);

// Free space of the working folder's file system: true when at least 3 MB are free.
// Otherwise shows `text` under the caption "Geringer freier Speicher" with the
// information icon and returns false.
bool LowSpaceCheck(Ui& ui, std::string_view text);
// The same check on the disk that holds (or will hold) `path`: what a save checks, since
// the file goes there and not to the working folder.
bool LowSpaceCheckAt(Ui& ui, std::string_view text, const std::string& path);
// The same decision for a free space already probed, in KB.
bool LowSpaceCheck(Ui& ui, std::string_view text, std::uint32_t free_kb);

// The warning shown after an edit named `action` when space runs low.
std::string LowSpaceText(std::string_view action);

}  // namespace sonavel
