#pragma once
// The editor on the desktop: a freedesktop entry that opens the program's audio files and
// projects, with its actions in the file manager's menu, the MIME types it handles, and
// the per-type choice of the default application.
//
// Files (XDG base folders, so tests can point them elsewhere):
//   $XDG_DATA_HOME/applications/sonavel.desktop
//   $XDG_DATA_HOME/mime/packages/sonavel.xml      types no other package names
//   $XDG_CONFIG_HOME/mimeapps.list                default applications

#include <array>
#include <string>
#include <string_view>

namespace sonavel {

class Settings;

// The audio file extensions the program knows, in its own order.
extern const std::array<std::string_view, 35> kAudioExtensions;

// The MIME type of an extension (".wav", ".snp", ...); empty for others.
std::string MimeTypeFor(std::string_view extension);

std::string DesktopEntryPath();
std::string MimePackagePath();
std::string MimeAppsListPath();

// At installation: writes the desktop entry (actions "Bearbeiten mit Sonavel" and
// "Stapelbearbeitung mit Sonavel" with " -batch", plus "Edit with Sonavel" when the
// setting "AddToWEContext" is on), the MIME package, and the settings "RunEdit" and
// "RunLoad" to both branches. `program` is the editor's path.
bool RegisterShellVerbs(Settings& settings, const std::string& program);

// The options dialog's "AddToWEContext": adds or removes the "Edit with Sonavel" action.
bool SetEditWithAction(Settings& settings, const std::string& program, bool enabled);

// The options dialog's extension list: makes the editor the default application of the
// extension's MIME type, or stops it being that.
bool SetDefaultOpener(std::string_view extension, bool enabled);
bool IsDefaultOpener(std::string_view extension);

// A path quoted for an Exec line of a desktop entry.
std::string DesktopExecQuote(const std::string& path);

}  // namespace sonavel
