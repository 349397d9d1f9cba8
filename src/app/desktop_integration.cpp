#include "app/desktop_integration.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/file.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/setting_keys.h"
#include "platform/settings.h"

namespace sonavel {

namespace {

constexpr const char* kEntryName = "sonavel.desktop";

struct TypeOfExtension {
  std::string_view extension;
  std::string_view type;
  bool ours;  // a type we declare ourselves (no common package knows it)
};

// Standard names where the shared MIME database has them.
constexpr TypeOfExtension kTypes[] = {
    {".wav", "audio/x-wav", false},          {".mp3", "audio/mpeg", false},
    {".ogg", "audio/x-vorbis+ogg", false},   {".wma", "audio/x-ms-wma", false},
    {".aif", "audio/x-aiff", false},         {".aiff", "audio/x-aiff", false},
    {".au", "audio/basic", false},           {".ra", "audio/vnd.rn-realaudio", false},
    {".ram", "application/ram", false},      {".flac", "audio/flac", false},
    {".aac", "audio/aac", false},            {".gsm", "audio/x-gsm", false},
    {".vox", "audio/x-vox", true},           {".raw", "audio/x-sonavel-raw", true},
    {".dss", "audio/x-dss", true},           {".dct", "audio/x-dct", true},
    {".m4a", "audio/mp4", false},            {".mp2", "audio/mp2", false},
    {".sri", "audio/x-sri", true},           {".mpga", "audio/mpeg", false},
    {".msv", "audio/x-msv", true},           {".dvf", "audio/x-dvf", true},
    {".act", "audio/x-act", true},           {".rcd", "audio/x-rcd", true},
    {".rec", "audio/x-rec", true},           {".shn", "application/x-shorten", false},
    {".asf", "video/x-ms-asf", false},       {".cda", "application/x-cda", true},
    {".rm", "application/vnd.rn-realmedia", false}, {".rmj", "audio/x-rmj", true},
    {".amr", "audio/AMR", false},            {".avi", "video/x-msvideo", false},
    {".mpg", "video/mpeg", false},           {".mpeg", "video/mpeg", false},
    {".wmv", "video/x-ms-wmv", false},       {".snp", "application/x-sonavel-project", true},
};

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::string XdgFolder(const char* variable, const char* fallback) {
  std::string folder = Env(variable);
  return folder.empty() ? JoinPath(Env("HOME"), fallback) : folder;
}

std::string DataHome() { return XdgFolder("XDG_DATA_HOME", ".local/share"); }

// Writes a whole text file, replacing it only when complete.
bool ReplaceText(const std::string& path, const std::string& text) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  return ReplaceFileContents(path, text);
}

std::string DesktopEntry(const std::string& program, bool edit_with) {
  std::ostringstream mime;
  std::vector<std::string_view> listed;
  for (const TypeOfExtension& t : kTypes) {
    if (std::find(listed.begin(), listed.end(), t.type) != listed.end()) continue;
    listed.push_back(t.type);
    mime << t.type << ';';
  }
  const std::string exec = DesktopExecQuote(program);
  std::ostringstream entry;
  entry << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=Sonavel\n"
        << "GenericName=Audio-Editor\n"
        << "Exec=" << exec << " %F\n"
        << "Icon=audio-x-generic\n"
        << "Terminal=false\n"
        << "Categories=AudioVideo;Audio;AudioVideoEditing;\n"
        << "MimeType=" << mime.str() << '\n'
        << "Actions=edit;batch;" << (edit_with ? "editwith;" : "") << "\n"
        << "\n[Desktop Action edit]\nName=Bearbeiten mit Sonavel\nExec=" << exec << " %F\n"
        << "\n[Desktop Action batch]\nName=Stapelbearbeitung mit Sonavel\nExec=" << exec << " -batch %f\n";
  if (edit_with) entry << "\n[Desktop Action editwith]\nName=Edit with Sonavel\nExec=" << exec << " %F\n";
  return entry.str();
}

std::string MimePackage() {
  std::ostringstream xml;
  xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
  for (const TypeOfExtension& t : kTypes) {
    if (!t.ours) continue;
    // A low weight: where another type claims the same name (".raw" images), it wins.
    xml << "  <mime-type type=\"" << t.type << "\">\n"
        << "    <comment>" << (t.extension == ".snp" ? "Sonavel-Projekt" : "Audiodatei") << "</comment>\n"
        << "    <glob pattern=\"*" << t.extension << "\" weight=\"20\"/>\n"
        << "  </mime-type>\n";
  }
  xml << "</mime-info>\n";
  return xml.str();
}

// Lets the desktop pick the new files up; a missing tool is not an error.
void RefreshDesktopDatabases() {
  RunProgram({"update-mime-database", JoinPath(DataHome(), "mime")});
  RunProgram({"update-desktop-database", JoinPath(DataHome(), "applications")});
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

}  // namespace

const std::array<std::string_view, 35> kAudioExtensions = {
    ".wav", ".mp3", ".ogg", ".wma", ".aif", ".aiff", ".au",  ".ra",  ".ram", ".flac", ".aac", ".gsm",
    ".vox", ".raw", ".dss", ".dct", ".m4a", ".mp2",  ".sri", ".mpga", ".msv", ".dvf", ".act", ".rcd",
    ".rec", ".shn", ".asf", ".cda", ".rm",  ".rmj",  ".amr", ".avi", ".mpg", ".mpeg", ".wmv"};

std::string MimeTypeFor(std::string_view extension) {
  for (const TypeOfExtension& t : kTypes)
    if (t.extension == extension) return std::string(t.type);
  return {};
}

std::string DesktopEntryPath() { return JoinPath(JoinPath(DataHome(), "applications"), kEntryName); }
std::string MimePackagePath() { return JoinPath(DataHome(), "mime/packages/sonavel.xml"); }
std::string MimeAppsListPath() {
  return JoinPath(XdgFolder("XDG_CONFIG_HOME", ".config"), "mimeapps.list");
}

std::string DesktopExecQuote(const std::string& path) {
  std::string quoted = "\"";
  for (char c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';  // a literal percent sign is doubled
    quoted += c;
  }
  return quoted + "\"";
}

bool RegisterShellVerbs(Settings& settings, const std::string& program) {
  settings.Write(setting::kRunEdit, "\"" + program + "\" \"%s\" -runedit");
  settings.Write(setting::kRunLoad, "\"" + program + "\" %s -runedit");
  const bool edit_with = settings.Read(setting::kAddToWEContext);
  const bool done = ReplaceText(MimePackagePath(), MimePackage()) &&
                    ReplaceText(DesktopEntryPath(), DesktopEntry(program, edit_with));
  RefreshDesktopDatabases();
  return done;
}

bool SetEditWithAction(Settings& settings, const std::string& program, bool enabled) {
  settings.Write(setting::kAddToWEContext, enabled);
  const bool done = ReplaceText(DesktopEntryPath(), DesktopEntry(program, enabled));
  RefreshDesktopDatabases();
  return done;
}

bool SetDefaultOpener(std::string_view extension, bool enabled) {
  const std::string type = MimeTypeFor(extension);
  if (type.empty()) return false;
  std::vector<std::string> lines = ReadLines(MimeAppsListPath());
  // Find the [Default Applications] section and this type's line in it.
  constexpr std::size_t kNone = std::string::npos;
  std::size_t section = kNone;
  std::size_t found = kNone;
  bool in_defaults = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!lines[i].empty() && lines[i].front() == '[') {
      in_defaults = lines[i] == "[Default Applications]";
      if (in_defaults && section == kNone) section = i;
    } else if (in_defaults && lines[i].rfind(type + "=", 0) == 0) {
      found = i;
    }
  }
  const std::string ours = type + "=" + kEntryName + ";";
  if (enabled) {
    if (found != kNone) {
      lines[found] = ours;
    } else if (section != kNone) {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(section) + 1, ours);
    } else {
      lines.push_back("[Default Applications]");
      lines.push_back(ours);
    }
  } else if (found != kNone && lines[found] == ours) {
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(found));
  }
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  return ReplaceText(MimeAppsListPath(), text);
}

bool IsDefaultOpener(std::string_view extension) {
  const std::string type = MimeTypeFor(extension);
  if (type.empty()) return false;
  bool in_defaults = false;
  for (const std::string& line : ReadLines(MimeAppsListPath())) {
    if (!line.empty() && line.front() == '[') in_defaults = line == "[Default Applications]";
    else if (in_defaults && line == type + "=" + kEntryName + ";") return true;
  }
  return false;
}

}  // namespace sonavel
