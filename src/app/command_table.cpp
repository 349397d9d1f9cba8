#include "app/command_table.h"

#include <algorithm>
#include <map>
#include <utility>

#include "app/command_ids.h"
#include "effects/spectral_subtraction.h"

namespace sonavel {
namespace {

MenuItem Item(int id, std::string text) { return MenuItem{id, std::move(text), {}, false}; }
MenuItem Separator() { return MenuItem{0, "", {}, true}; }
MenuItem Submenu(std::string text, std::vector<MenuItem> children) {
  return MenuItem{0, std::move(text), std::move(children), false};
}

// Position counted from 0; separators and submenus take one position each:
//   0 Neu, 1 Öffnen, 2 CD laden, 3 Schliessen, 4 —, 5 Speichern, 6 Speichern Als, 7 —,
//   8 Auf CD kopieren, 9 Senden, 10 —, 11 … 14 Projekt, 15 —, 16 Samplerate,
//   17 Kanäle konvertieren, 18 —, 19 ID3 Tags, 20 —, 21 Einstellungen, 22 —, 23 &Schließen.
// The recent files are inserted at 23, between the last separator and "&Schließen".
MenuItem FileMenu() {
  return Submenu("&Datei",
                 {
                     Item(1001, "&Neu...\tCtrl+N"),
                     Item(1002, "&Öffnen...\tCtrl+O"),
                     Item(1011, "&Audio Track(s) von CD laden...\tCtrl+L"),
                     Item(1003, "Schliessen"),
                     Separator(),
                     Item(1004, "&Speichern\tCtrl+S"),
                     Item(1005, "Speichern &Als...\tCtrl+S"),
                     Separator(),
                     Submenu("Auf CD kopieren...", {Item(1012, "Audio"), Item(1018, "Data")}),
                     Item(1009, "Senden..."),
                     Separator(),
                     Item(1013, "Projekt öffnen..."),
                     Item(1014, "Projekt schliessen"),
                     Item(1015, "Projekt speichern"),
                     Item(1016, "Projekt speichern als..."),
                     Separator(),
                     Item(1006, "Samplerate umwandeln"),
                     Submenu("Kanäle konvertieren", {Item(1007, "Mono"), Item(1008, "Stereo")}),
                     Separator(),
                     Item(1019, "ID3 Tags bearbeiten..."),
                     Separator(),
                     Item(1010, "Einstellungen..."),
                     Separator(),
                     Item(1048, "&Schließen"),
                 });
}

MenuItem InsertSilenceMenu() {
  return Submenu("Stille einfügen...",
                 {Item(2015, "Anfang"), Item(2016, "Aktuelle"), Item(2017, "Ende")});
}

MenuItem InsertFileMenu() {
  return Submenu("Datei einfügen...",
                 {Item(2018, "Anfang"), Item(2019, "Aktuelle"), Item(2020, "Ende")});
}

MenuItem EditMenu() {
  return Submenu("&Bearbeiten",
                 {
                     Item(2001, "Rückgängig \tCtrl+Z"),
                     Item(2033, "Wiederholen"),
                     Separator(),
                     Item(2002, "Schneiden \tCtrl+X"),
                     Item(2003, "Kopieren \tCtrl+C"),
                     Item(2021, "Nach neu kopieren"),
                     Item(2004, "Einfügen \tCtrl+V"),
                     Item(2025, "Aus Zwischenablage einfügen"),
                     Item(2005, "Mix einfügen..."),
                     Item(2026, "Mix aus Zwischenablage einfügen..."),
                     Item(2006, "&Löschen"),
                     Separator(),
                     Item(2007, "Alles markieren\tCtrl+A"),
                     Item(2022, "Anfang markieren\tShift+Home"),
                     Item(2023, "Ende markieren\tShift+End"),
                     Item(2027, "Bereich markieren\tCtrl+G"),
                     Separator(),
                     Item(2008, "Datei mixen..."),
                     Item(2009, "Loop wiederholen..."),
                     Separator(),
                     Item(2010, "Trimmen\tCtrl+T"),
                     Item(2011, "Start trimmen\tCtrl+M"),
                     Item(2012, "Ende trimmen\tCtrl+E"),
                     Item(2013, "Automatisch trimmen"),
                     Item(2029, "An dieser Stelle in zwei Teile splitten"),
                     Item(2034, "Auto Split..."),
                     Separator(),
                     Item(2014, "Stille im ausgewähltem Bereich"),
                     Item(2028, "Speicher markierte Region als..."),
                     Separator(),
                     InsertSilenceMenu(),
                     InsertFileMenu(),
                     Separator(),
                     Item(2030, "Erste Position markieren"),
                     Item(2031, "Zweite Position markieren"),
                     Item(2032, "Markierung wiederrufen"),
                 });
}

// Grouped as the effects work: level, time, filters, restoration, speed and pitch,
// plug-ins. 4033 … 4036 are kept free for further effects.
std::vector<MenuItem> EffectItems() {
  return {
      Item(4001, "Verstärken..."),
      Item(4002, "Normalisieren..."),
      Item(4009, "Automatische Lautstärken Kontrolle"),
      Item(4024, "Dynamic Range Compressor..."),
      Item(4017, "Dynamik..."),
      Item(4022, "Stereo Regler..."),
      Item(4023, "DC Offset korrigieren"),
      Separator(),
      Item(4006, "Einblenden"),
      Item(4007, "Ausblenden"),
      Item(4008, "Ausblenden und Trimmen"),
      Item(4021, "Überblenden..."),
      Item(4018, "Rückwärts"),
      Separator(),
      Item(4004, "Echo..."),
      Item(4005, "Hall..."),
      Item(4025, "Chorus..."),
      Item(4026, "Flanger..."),
      Item(4027, "Phaser..."),
      Item(4028, "Verzerrung..."),
      Item(4029, "AM Radioeffekt"),
      Item(4030, "Telefoneffekt"),
      Separator(),
      Item(4003, "Equalizer..."),
      Item(4031, "High-Pass Filter..."),
      Separator(),
      Submenu("Noise Reduction",
              {
                  Item(4010, "Multi-band Noise Gating..."),
                  Item(4011, "Auto Spectral Subtraction..."),
                  Separator(),
                  Item(4012, "Noise Sample nehmen"),
                  Item(4013, "Spectral Subtraction basiert auf Noise Sample"),
              }),
      Item(4032, "Stimmen reduzieren"),
      Separator(),
      Item(4014, "Geschwindigkeit und Tonhöhe ändern..."),
      Item(4015, "Nur Geschwindigkeit ändern..."),
      Item(4016, "Nur Tonhöhe ändern..."),
      Separator(),
      Item(4019, "DirectX Effekte..."),
      Item(4020, "VST Plugins..."),
  };
}

// The three speeds are 3008 + "PlaySpeed" (0 slow, 1 normal, 2 fast), listed in the
// order of their keys F10, F11, F12.
MenuItem ControlMenu() {
  return Submenu("&Steuerung",
                 {
                     Item(3002, "Abspielen\tF9"),
                     Item(3001, "&Aufnehmen\tF5"),
                     Item(3003, "Stop\tEsc"),
                     Separator(),
                     Item(3004, "Zum Anfang\tHome"),
                     Item(3005, "Zurückspulen\tLeft"),
                     Item(3006, "Vorspulen\tRight"),
                     Item(3007, "Zum Ende\tEnd"),
                     Separator(),
                     Item(3009, "Normale Geschwindigkeit\tF10"),
                     Item(3008, "Langsame Geschwindigkeit\tF11"),
                     Item(3010, "Schnelle Geschwindigkeit\tF12"),
                     Separator(),
                     Item(3011, "Markierung wiederholt abspielen\tShift+F9"),
                 });
}

MenuItem ToolsMenu() {
  return Submenu("&Werkzeuge",
                 {
                     Item(7001, "Frequenzanalyse (FFT)"),
                     Item(7005, "Temporale Frequenzanalyse (TFFT)"),
                     Separator(),
                     Item(7009, "&Auto Störgeräuschrestoration"),
                     Item(7010, "Manueller Klick/Pop Reduzierung"),
                     Separator(),
                     Item(7003, "Stapelbearbeitung"),
                     Item(7004, "Text als Sprache"),
                     Item(7002, "Tonemill"),
                 });
}

MenuItem BookmarkMenu() {
  return Submenu("&Lesezeichen",
                 {
                     Item(8001, "Lesezeichen setzen\tCtrl+B"),
                     Item(8003, "Liste öffnen\tCtrl+Shift+B"),
                     Separator(),
                     Item(8004, "Bereich hinzufügen\tCtrl+R"),
                     Item(8000, "Gespeicherten Bereich öffnen\tCtrl+Shift+R"),
                     Item(8005, "Bereiche zusammenfügen"),
                 });
}

}  // namespace

std::vector<MenuItem> BookmarkListItems() {
  return {Item(8006, "Zu Lesezeichen gehen"), Item(8007, "Lesezeichen umbenennen"), Item(8008, "Lesezeichen löschen"),
          Item(8009, "Alle Lesezeichen löschen")};
}

std::vector<MenuItem> RegionListItems() {
  return {Item(8011, "Bereich abspielen"),      Item(8012, "Bereich umbenennen"),
          Item(8013, "Bereich speichern..."),   Item(8014, "Bereich in neue Datei kopieren"),
          Item(8015, "Bereich(e) löschen"),     Item(8016, "Alle Bereiche löschen"),
          Item(8017, "Nach Ordner exportieren"), Item(8018, "Bereich(e) auf CD kopieren...")};
}

namespace {

MenuItem ViewMenu() {
  return Submenu("&Betrachten",
                 {
                     Item(5001, "Zoom In\tCtrl+Plus"),
                     Item(5002, "Zoom Out\tCtrl+Minus"),
                     Item(5003, "Markierung zoomen\tCtrl+Shift+S"),
                     Item(5004, "Zoom zurücksetzen\tCtrl+Shift+F"),
                     Item(5005, "Verticaler Zoom\tCtrl+Shift+V"),
                     Separator(),
                     Item(5007, "Wave Form als + /- anzeigen"),
                     Item(5008, "Wave Form als L / R anzeigen"),
                     Item(5013, "Wave&form in dualen L und R Kanälen anzeigen"),
                     Separator(),
                     Item(9002, "Werkzeugleiste"),
                     Item(9003, "Effektleiste"),
                     Separator(),
                     Item(9001, "Kommandozeile anzeigen\tCtrl+Shift+A"),
                     Item(9004, "Links"),
                     Item(9005, "Rechts"),
                 });
}

// The frame appends the list of open windows (first child id 11000) below these.
MenuItem WindowMenu() {
  return Submenu("&Fenster",
                 {
                     Item(5009, "Überlappend"),
                     Item(5010, "Übereinander"),
                     Item(5011, "Nebeneinander"),
                     Item(5012, "Minimierte Fenster anordnen"),
                     Separator(),
                     Item(5040, "Alles schliessen"),
                 });
}

MenuItem HelpMenu() {
  return Submenu("&Hilfe",
                 {
                     Item(6000, "&Hilfethemen\tF1"),
                     Separator(),
                     Item(6020, "Ähnliche Programme installieren..."),
                     Item(6021, "Nach Update Version suchen..."),
                     Separator(),
                     Item(9090, "Über"),
                 });
}

const std::map<int, std::string>& HelpTable() {
  static const std::map<int, std::string> table = {
      {1001, "Erstellt eine neue Audiodatei."},
      {1002, "Öffnet eine vorhandene Audiodatei."},
      {1003, "Schließt die aktive Audiodatei."},
      {1004, "Speichert die aktive Audiodatei."},
      {1005, "Speichert die aktive Audiodatei unter einem neuen Namen oder Format."},
      {1006, "Wandelt die Samplerate der Audiodatei um."},
      {1007, "Wandelt die Audiodatei in Mono um."},
      {1008, "Wandelt die Audiodatei in Stereo um."},
      {1009, "Sendet die Audiodatei per E-Mail oder FTP."},
      {1010, "Ändert die Einstellungen des Programms."},
      {1011, "Lädt Audio Tracks von einer CD."},
      {1013, "Öffnet ein gespeichertes Projekt."},
      {1014, "Schließt das aktuelle Projekt."},
      {1015, "Speichert das aktuelle Projekt."},
      {1016, "Speichert das aktuelle Projekt unter einem neuen Namen."},
      {1048, "Verlassen"},
      {2001, "Macht die letzte Aktion rückgängig."},
      {2002, "Schneidet den markierten Bereich aus und legt ihn in die Zwischenablage."},
      {2003, "Kopiert den markierten Bereich in die Zwischenablage."},
      {2004, "Fügt den Inhalt der Zwischenablage an der aktuellen Position ein."},
      {2005, "Mischt den Inhalt der Zwischenablage in die Audiodatei."},
      {2007, "Markiert die gesamte Audiodatei."},
      {2008, "Mischt eine andere Audiodatei in die aktuelle."},
      {2009, "Wiederholt den markierten Bereich mehrmals."},
      {2010, "Gewählter Bereich wird zur vollständigen Datei."},
      {2011, "Löscht alles vor der aktuellen Position."},
      {2012, "Löscht alles nach der aktuellen Position."},
      {2013, "Löscht Stille von Anfang und Ende."},
      {2014, "Ersetzt den markierten Bereich durch Stille."},
      {2015, "Fügt Stille am Anfang der Datei ein."},
      {2016, "Fügt Stille an der aktuellen Position ein."},
      {2017, "Fügt Stille am Ende der Datei ein."},
      {2018, "Fügt eine Audiodatei am Anfang der Datei ein."},
      {2019, "Fügt eine Audiodatei an der aktuellen Position ein."},
      {2020, "Fügt eine Audiodatei am Ende der Datei ein."},
      {2021, "Kopiert den markierten Bereich in eine neue Datei."},
      {2022, "Markiert vom Anfang bis zur aktuellen Position."},
      {2023, "Markiert von der aktuellen Position bis zum Ende."},
      {2025, "Fügt Audio aus der Zwischenablage anderer Programme ein."},
      {2026, "Mischt Audio aus der Zwischenablage anderer Programme in die Audiodatei."},
      {2028, "Speichert den markierten Bereich als neue Audiodatei."},
      {2029, "Teilt die Datei an der aktuellen Position in zwei Dateien."},
      {3001, "Nimmt ab der aktuellen Position auf (oder über Markierung)."},
      {3002, "Spielt ab der aktuellen Position ab (oder die Markierung)."},
      {3003, "Beendet Wiedergabe und Aufnahme."},
      {3004, "Springt an den Anfang der Datei."},
      {3005, "Spult zurück, solange die Taste gedrückt ist."},
      {3006, "Spult vor, solange die Taste gedrückt ist."},
      {3007, "Springt an das Ende der Datei."},
      {3008, "Spielt mit halber Geschwindigkeit ab."},
      {3009, "Spielt mit normaler Geschwindigkeit ab."},
      {3010, "Spielt mit eineinhalbfacher Geschwindigkeit ab."},
      {3011, "Wiederholt das abspielen des markierten Bereiches."},
      {4001, "Macht den markierten Bereich lauter oder leiser."},
      {4002, "Bringt den lautesten Punkt auf den gewählten Pegel."},
      {4003, "Verändert die Lautstärke einzelner Frequenzen."},
      {4004, "Fügt dem markierten Bereich ein Echo hinzu."},
      {4005, "Fügt dem markierten Bereich Hall hinzu."},
      {4006, "Blendet den markierten Bereich langsam ein."},
      {4007, "Blendet den markierten Bereich langsam aus."},
      {4008, "Blendet aus und entfernt alles nach der Markierung."},
      {4009,
       "Steigert leise Bereiche und setzt Laute Bereiche herab, um eine perfekte Lautstärke "
       "zu erhalten."},
      {4010, "Entfernt Störgeräusche mit einem Noise Gate in mehreren Bändern."},
      {4011, "Entfernt gleichmäßiges Rauschen automatisch."},
      {4012, "Nimmt den markierten Bereich als Muster des Rauschens."},
      {4013, "Entfernt das Rauschen nach dem genommenen Noise Sample."},
      {4014, "Ändert Geschwindigkeit und Tonhöhe zusammen."},
      {4015, "Ändert die Geschwindigkeit, ohne die Tonhöhe zu ändern."},
      {4016, "Ändert die Tonhöhe, ohne die Geschwindigkeit zu ändern."},
      {4017, "Verändert die Lautstärke entlang einer gezeichneten Kurve."},
      {4018, "Spielt den markierten Bereich rückwärts."},
      {5001, "Vergrößert die Ansicht."},
      {5002, "Verkleinert die Ansicht."},
      {5003, "Zeigt den markierten Bereich im ganzen Fenster."},
      {5004, "Zeigt die gesamte Datei."},
      {5005, "Vergrößert die Weite des Displays (um schwächere Klänge zu sehen)."},
      {5007, "Zeigt die Wave Form mit positiven und negativen Werten."},
      {5008, "Zeigt den linken und rechten Kanal übereinander."},
      {5009, "Ordnet die Fenster überlappend an."},
      {5010, "Ordnet die Fenster übereinander an."},
      {5011, "Ordnet die Fenster nebeneinander an."},
      {5012, "Ordnet die minimierten Fenster an."},
      {5040, "Schließt alle Fenster."},
      {6000, "Zeigt die Hilfethemen an."},
      {7001, "Zeigt das Frequenzspektrum an der aktuellen Position."},
      {7002, "Startet den Tongenerator Tonemill."},
      {7003, "Verwendet mehrere Effekte oder Bearbeitungsfunktionen gleichzeitig."},
      {7004, "Liest einen Text vor und nimmt ihn als Audio auf."},
      {7005, "Zeigt das Frequenzspektrum des markierten Bereiches über die Zeit."},
      {8000, "Öffnet die Liste der gespeicherten Bereiche."},
      {8001, "Setzt ein Lesezeichen an der aktuellen Position."},
      {8003, "Öffnet die Liste der Lesezeichen."},
      {8004, "Speichert den markierten Bereich in der Bereichsliste."},
      {8005, "Fügt mehrere Bereiche zu einer neuen Datei zusammen."},
      {9090, "Zeigt Programminformationen und Version an"},
  };
  return table;
}

void CollectIds(const std::vector<MenuItem>& items, std::vector<int>& ids) {
  for (const MenuItem& item : items) {
    if (item.separator) continue;
    if (item.id != 0) ids.push_back(item.id);
    CollectIds(item.children, ids);
  }
}

const MenuItem* FindIn(const std::vector<MenuItem>& items, int id) {
  for (const MenuItem& item : items) {
    if (item.separator) continue;
    if (item.id == id) return &item;
    if (const MenuItem* found = FindIn(item.children, id)) return found;
  }
  return nullptr;
}

}  // namespace

std::vector<MenuItem> MainMenu() {
  return {FileMenu(),    EditMenu(),     Submenu("Effek&te", EffectItems()),
          ControlMenu(), ToolsMenu(),    BookmarkMenu(),
          ViewMenu(),    WindowMenu(),   HelpMenu()};
}

std::vector<MenuItem> DocumentContextMenu() {
  return {
      Item(2001, "Rückgängig \tCtrl+Z"),
      Item(2033, "Wiederholen"),
      Separator(),
      Item(2002, "Schneiden \tCtrl+X"),
      Item(2003, "Kopieren \tCtrl+C"),
      Item(2021, "Nach neu kopieren"),
      Item(2004, "Einfügen \tCtrl+V"),
      Item(2005, "Mix einfügen..."),
      Item(2006, "&Löschen"),
      Separator(),
      Item(2007, "Alles markieren\tCtrl+A"),
      Item(2010, "Trimmen\tCtrl+T"),
      Item(2029, "An dieser Stelle in zwei Teile splitten"),
      Item(2014, "Stille im ausgewähltem Bereich"),
      InsertSilenceMenu(),
      InsertFileMenu(),
      Separator(),
      Submenu("Effek&te", EffectItems()),
      Separator(),
      Item(8001, "Lesezeichen setzen\tCtrl+B"),
      Item(8003, "Liste öffnen\tCtrl+Shift+B"),
      Item(8004, "Bereich hinzufügen\tCtrl+R"),
      Item(8000, "Gespeicherten Bereich öffnen\tCtrl+Shift+R"),
  };
}

std::vector<MenuItem> ConversionContextMenu() {
  return {
      Item(1006, "Samplerate umwandeln"),
      Submenu("Kanäle konvertieren", {Item(1007, "Mono"), Item(1008, "Stereo")}),
  };
}

std::vector<ToolButton> MainToolbar() {
  const auto button = [](int id, const char* name) { return ToolButton{id, name, name, false}; };
  const ToolButton separator{0, "", "", true};
  return {
      button(1001, "Neu"),
      button(1002, "Öffnen"),
      button(1004, "Speichern"),
      separator,
      button(2001, "Rückgängig"),
      button(2033, "Wiederholen"),
      button(2002, "Schneiden"),
      button(2003, "Kopieren"),
      button(2004, "Einfügen"),
      button(2006, "Löschen"),
      separator,
      button(1011, "Lade CD"),
      button(1012, "BrenneCD"),
      separator,
      button(8003, "Lesezeichen"),
      ToolButton{7003, "Stapel", "Stapelbearbeiter", false},
      separator,
      button(1010, "Optionen"),
      button(6000, "Hilfe"),
  };
}

std::vector<ToolButton> EffectsToolbar() {
  // The button's name is its tooltip without the shortcut.
  const auto button = [](int id, std::string tooltip) {
    std::string name = tooltip.substr(0, tooltip.find('\t'));
    return ToolButton{id, std::move(name), std::move(tooltip), false};
  };
  return {
      button(2021, "Nach neu kopieren"),
      button(2010, "Trimmen\tCtrl+T"),
      button(2029, "An dieser Stelle Datei in zwei Teile splitten"),
      button(2008, "Datei mixen"),
      button(2016, "Stille an aktueller Postion einfügen"),
      button(4001, "Verstärken"),
      button(4002, "Normalisieren"),
      button(4003, "Equalizer"),
      button(4004, "Echo"),
      button(4005, "Hall"),
      button(4018, "Rückwärts"),
      button(4006, "Einblenden"),
      button(4007, "Ausblenden"),
      button(4021, "Überblenden"),
      button(4010, "Noise Reduction"),
      button(4016, "Tönhöhe ändern"),
      button(4015, "Geschwindigkeit ändern"),
      button(4014, "Geschwindigkeit und Tonhöhe ändern"),
      button(4019, "DirectX"),
      button(4020, "VST Plugin"),
      button(7001, "FFT"),
      button(7009, "Störgeräusch"),
      button(7005, "TFFT"),
  };
}

std::string MenuHelpText(int id) {
  if (id >= 1050 && id <= 1060) return "Die zuletzt geschlossene Datei öffnen.";
  if (id >= 5017 && id <= 5036) return "Aktiviert das gewählte Fenster.";
  const auto& table = HelpTable();
  const auto found = table.find(id);
  return found == table.end() ? std::string() : found->second;
}

const MenuItem* FindCommand(int id) {
  static const std::vector<MenuItem> menu = MainMenu();
  if (id == 0) return nullptr;
  return FindIn(menu, id);
}

std::vector<int> AllCommandIds() {
  std::vector<int> ids;
  CollectIds(MainMenu(), ids);
  return ids;
}

bool CommandAvailable(int id) {
  // The edit commands, but 2024.
  if (id >= 2002 && id <= 2032 && id != 2024) return true;
  static constexpr int kAvailable[] = {
      1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1010, 1013, 1014, 1015, 1016, 1019, 1048, 2001, 2033, 3002, 3003, 3004, 3005, 3006,
      3007, 3008, 3009, 3010, 3011, 4001, 4002, 4006, 4007, 4008, 4009, 4014, 4015, 4016, 4017, 4018, 4021,
      4022, 4023, 4024, 4004, 4005, 4025, 4026, 4027, 5001, 5002, 5003, 5004, 5005, 5007, 5008, 5013, 5009, 5010, 5011, 5012, 5040, 9001,
      9002, 9003, 9004, 9005, 9090,
      // The equaliser.
      4003,
      // Bookmarks and regions; copying regions to a CD (8018) waits for CD writing.
      8000, 8001, 8003, 8004, 8005, 8006, 8007, 8008, 8009, 8011, 8012, 8013, 8014, 8015, 8016, 8017,
      // Distortion, AM radio, high-pass.
      4028, 4029, 4030, 4031,
      // The multi-band noise gate, auto spectral subtraction, taking a noise sample and vocal
      // reduction.
      4010, 4011, 4012, 4032,
      // Automatic splitting.
      2034,
      // Automatic and manual click repair.
      7009, 7010,
      // The frequency and time-frequency analysis windows.
      7001, 7005};
  // Subtracting a noise sample needs one taken in this run.
  if (id == command_id::kApplyNoiseSample) return NoiseSampleProfile() != nullptr;
  return std::find(std::begin(kAvailable), std::end(kAvailable), id) != std::end(kAvailable);
}

}  // namespace sonavel
