#include "app/command_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "app/recent_files.h"

namespace sonavel {
namespace {

std::string TextOf(int id) {
  const MenuItem* item = FindCommand(id);
  return item ? item->text : "<missing>";
}

const MenuItem* Child(const MenuItem& menu, const std::string& text) {
  for (const MenuItem& item : menu.children)
    if (!item.separator && item.text == text) return &item;
  return nullptr;
}

void CollectIds(const std::vector<MenuItem>& items, std::vector<int>& ids) {
  for (const MenuItem& item : items) {
    if (item.id != 0) ids.push_back(item.id);
    CollectIds(item.children, ids);
  }
}

void ExpectTextsAsInMainMenu(const std::vector<MenuItem>& items) {
  for (const MenuItem& item : items) {
    if (item.id != 0) {
      EXPECT_EQ(item.text, TextOf(item.id)) << item.id;
    }
    ExpectTextsAsInMainMenu(item.children);
  }
}

std::vector<int> Range(int first, int last) {
  std::vector<int> ids;
  for (int id = first; id <= last; ++id) ids.push_back(id);
  return ids;
}

TEST(CommandTable, TopLevelMenusInOrder) {
  std::vector<std::string> titles;
  for (const MenuItem& menu : MainMenu()) {
    EXPECT_TRUE(menu.IsSubmenu()) << menu.text;
    titles.push_back(menu.text);
  }
  EXPECT_EQ(titles, (std::vector<std::string>{"&Datei", "&Bearbeiten", "Effek&te", "&Steuerung",
                                              "&Werkzeuge", "&Lesezeichen", "&Betrachten",
                                              "&Fenster", "&Hilfe"}));
}

TEST(CommandTable, ItemTextsAcrossTheMenus) {
  EXPECT_EQ(TextOf(1001), "&Neu...\tCtrl+N");
  EXPECT_EQ(TextOf(1005), "Speichern &Als...\tCtrl+S");
  EXPECT_EQ(TextOf(1011), "&Audio Track(s) von CD laden...\tCtrl+L");
  EXPECT_EQ(TextOf(1014), "Projekt schliessen");
  EXPECT_EQ(TextOf(2001), "Rückgängig \tCtrl+Z");
  EXPECT_EQ(TextOf(2006), "&Löschen");
  EXPECT_EQ(TextOf(2014), "Stille im ausgewähltem Bereich");
  EXPECT_EQ(TextOf(2028), "Speicher markierte Region als...");
  EXPECT_EQ(TextOf(2032), "Markierung wiederrufen");
  EXPECT_EQ(TextOf(3001), "&Aufnehmen\tF5");
  EXPECT_EQ(TextOf(4019), "DirectX Effekte...");
  EXPECT_EQ(TextOf(4020), "VST Plugins...");
  EXPECT_EQ(TextOf(5005), "Verticaler Zoom\tCtrl+Shift+V");
  EXPECT_EQ(TextOf(5013), "Wave&form in dualen L und R Kanälen anzeigen");
  EXPECT_EQ(TextOf(7002), "Tonemill");
  EXPECT_EQ(TextOf(7009), "&Auto Störgeräuschrestoration");
  EXPECT_EQ(TextOf(8000), "Gespeicherten Bereich öffnen\tCtrl+Shift+R");
  EXPECT_EQ(TextOf(9001), "Kommandozeile anzeigen\tCtrl+Shift+A");
  EXPECT_EQ(TextOf(6000), "&Hilfethemen\tF1");
  EXPECT_EQ(TextOf(9090), "Über");
  EXPECT_EQ(FindCommand(0), nullptr);
  EXPECT_EQ(FindCommand(4036), nullptr);
}

TEST(CommandTable, SubmenusHoldTheirItems) {
  const std::vector<MenuItem> menu = MainMenu();
  const MenuItem* burn = Child(menu[0], "Auf CD kopieren...");
  ASSERT_NE(burn, nullptr);
  ASSERT_EQ(burn->children.size(), 2u);
  EXPECT_EQ(burn->children[0].id, 1012);
  EXPECT_EQ(burn->children[0].text, "Audio");
  EXPECT_EQ(burn->children[1].id, 1018);
  EXPECT_EQ(burn->children[1].text, "Data");

  const MenuItem* channels = Child(menu[0], "Kanäle konvertieren");
  ASSERT_NE(channels, nullptr);
  ASSERT_EQ(channels->children.size(), 2u);
  EXPECT_EQ(channels->children[0].text, "Mono");
  EXPECT_EQ(channels->children[1].id, 1008);

  for (const auto& [title, first] : {std::pair<std::string, int>{"Stille einfügen...", 2015},
                                     std::pair<std::string, int>{"Datei einfügen...", 2018}}) {
    const MenuItem* sub = Child(menu[1], title);
    ASSERT_NE(sub, nullptr) << title;
    ASSERT_EQ(sub->children.size(), 3u);
    const char* where[] = {"Anfang", "Aktuelle", "Ende"};
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(sub->children[i].id, first + i);
      EXPECT_EQ(sub->children[i].text, where[i]);
    }
  }
}

TEST(CommandTable, FileMenuLeavesRoomForRecentFilesBeforeClosing) {
  const MenuItem file = MainMenu()[0];
  ASSERT_EQ(file.children.size(), static_cast<size_t>(kFirstRecentMenuPosition) + 1);
  EXPECT_EQ(file.children.back().id, kCloseId);
  EXPECT_EQ(file.children.back().text, "&Schließen");
  EXPECT_TRUE(file.children[kFirstRecentMenuPosition - 1].separator);
  // No recent-file id is taken by a fixed item.
  for (int id = kFirstRecentId; id <= kRecentSeparatorId; ++id) EXPECT_EQ(FindCommand(id), nullptr);
}

TEST(CommandTable, EveryTableIdOccursExactlyOnce) {
  std::vector<int> expected = {1001, 1002, 1011, 1003, 1004, 1005, 1012, 1018, 1009, 1013,
                               1014, 1015, 1016, 1006, 1007, 1008, 1019, 1010, 1048, 2001,
                               2033, 2009, 2013, 2034, 2028, 4019, 4020, 3001, 7001, 7005,
                               7009, 7010, 7002, 7004, 7003, 8001, 8003, 8004, 8000, 8005,
                               9001, 9004, 9005, 9002, 9003, 5009, 5010, 5011, 5012, 5001,
                               5002, 5003, 5004, 5005, 5007, 5008, 5013, 5040, 6000, 6020,
                               6021, 9090};
  for (int id : Range(2002, 2032))  // cut … marks; 2024 is not an edit command
    if (id != 2024) expected.push_back(id);
  for (int id : Range(3002, 3011)) expected.push_back(id);  // transport
  for (int id : {4001, 4002, 4003, 4004, 4005, 4006, 4007, 4009, 4010, 4014, 4015, 4016, 4018,
                 4021})
    expected.push_back(id);  // effects named by the toolbar and the help

  const std::vector<int> ids = AllCommandIds();
  for (int id : expected) EXPECT_EQ(std::count(ids.begin(), ids.end(), id), 1) << id;
  const std::set<int> unique(ids.begin(), ids.end());
  EXPECT_EQ(unique.size(), ids.size());
  // Every effect lies in its block.
  const std::vector<MenuItem> menu = MainMenu();
  for (const MenuItem& item : menu[2].children) {
    std::vector<int> effect_ids;
    CollectIds({item}, effect_ids);
    for (int id : effect_ids) {
      EXPECT_GE(id, 4001);
      EXPECT_LE(id, 4036);
    }
  }
}

TEST(CommandTable, ToolbarsMatchTheMenu) {
  const std::vector<ToolButton> main = MainToolbar();
  std::vector<int> ids;
  for (const ToolButton& button : main)
    if (!button.separator) ids.push_back(button.id);
  EXPECT_EQ(ids, (std::vector<int>{1001, 1002, 1004, 2001, 2033, 2002, 2003, 2004, 2006, 1011,
                                   1012, 8003, 7003, 1010, 6000}));
  EXPECT_EQ(main.size(), ids.size() + 4);
  EXPECT_TRUE(main[3].separator);
  const auto batch = std::find_if(main.begin(), main.end(),
                                  [](const ToolButton& b) { return b.id == 7003; });
  EXPECT_EQ(batch->name, "Stapel");
  EXPECT_EQ(batch->tooltip, "Stapelbearbeiter");
  EXPECT_EQ(main[11].name, "Lade CD");
  EXPECT_EQ(main[12].name, "BrenneCD");

  const std::vector<ToolButton> effects = EffectsToolbar();
  ASSERT_EQ(effects.size(), 23u);
  EXPECT_EQ(effects[1].tooltip, "Trimmen\tCtrl+T");
  EXPECT_EQ(effects[1].name, "Trimmen");
  EXPECT_EQ(effects[4].tooltip, "Stille an aktueller Postion einfügen");
  EXPECT_EQ(effects[4].id, 2016);
  EXPECT_EQ(effects[15].tooltip, "Tönhöhe ändern");
  EXPECT_EQ(effects[21].id, 7009);
  EXPECT_EQ(effects[21].tooltip, "Störgeräusch");
  EXPECT_EQ(effects[22].tooltip, "TFFT");

  for (const auto& bar : {main, effects})
    for (const ToolButton& button : bar)
      if (!button.separator) {
        EXPECT_NE(FindCommand(button.id), nullptr) << button.id;
      }
}

TEST(CommandTable, MenuHelp) {
  EXPECT_EQ(MenuHelpText(1001), "Erstellt eine neue Audiodatei.");
  EXPECT_EQ(MenuHelpText(1048), "Verlassen");
  EXPECT_EQ(MenuHelpText(2010), "Gewählter Bereich wird zur vollständigen Datei.");
  EXPECT_EQ(MenuHelpText(2013), "Löscht Stille von Anfang und Ende.");
  EXPECT_EQ(MenuHelpText(3001), "Nimmt ab der aktuellen Position auf (oder über Markierung).");
  EXPECT_EQ(MenuHelpText(3011), "Wiederholt das abspielen des markierten Bereiches.");
  EXPECT_EQ(MenuHelpText(4009),
            "Steigert leise Bereiche und setzt Laute Bereiche herab, um eine perfekte "
            "Lautstärke zu erhalten.");
  EXPECT_EQ(MenuHelpText(5005),
            "Vergrößert die Weite des Displays (um schwächere Klänge zu sehen).");
  EXPECT_EQ(MenuHelpText(7003),
            "Verwendet mehrere Effekte oder Bearbeitungsfunktionen gleichzeitig.");
  EXPECT_EQ(MenuHelpText(9090), "Zeigt Programminformationen und Version an");
  for (int id : {1050, 1055, 1060})
    EXPECT_EQ(MenuHelpText(id), "Die zuletzt geschlossene Datei öffnen.");
  for (int id : {5017, 5030, 5036}) EXPECT_EQ(MenuHelpText(id), "Aktiviert das gewählte Fenster.");
  for (int id : {0, 1061, 5016, 5037, 11000})
    EXPECT_EQ(MenuHelpText(id), "") << id;

  // Exactly these ids have a help text of their own.
  std::vector<int> with_help = {1013, 1014, 1015, 1016, 1048, 2025, 2026, 2028, 2029, 8000,
                                8001, 8003, 8004, 8005, 5040, 6000, 9090};
  for (const auto& [first, last] :
       {std::pair{1001, 1011}, std::pair{2001, 2005}, std::pair{2007, 2023}, std::pair{3001, 3011},
        std::pair{4001, 4018}, std::pair{7001, 7005}, std::pair{5001, 5005}, std::pair{5007, 5012}})
    for (int id : Range(first, last)) with_help.push_back(id);
  const std::set<int> expected(with_help.begin(), with_help.end());
  for (int id : AllCommandIds()) {
    if (id >= 1050 && id <= 1060) continue;
    EXPECT_EQ(!MenuHelpText(id).empty(), expected.count(id) == 1) << id;
  }
}

TEST(CommandTable, ContextMenus) {
  const std::vector<MenuItem> document = DocumentContextMenu();
  std::vector<int> ids;
  CollectIds(document, ids);
  for (int id : {2002, 2003, 2004, 2006, 4001, 4020, 8001, 8004}) {
    EXPECT_EQ(std::count(ids.begin(), ids.end(), id), 1) << id;
  }
  const auto effects = std::find_if(document.begin(), document.end(),
                                    [](const MenuItem& m) { return m.text == "Effek&te"; });
  ASSERT_NE(effects, document.end());
  EXPECT_EQ(effects->children.size(), MainMenu()[2].children.size());
  // The same command carries the same text wherever it appears.
  ExpectTextsAsInMainMenu(document);
  ExpectTextsAsInMainMenu(ConversionContextMenu());

  const std::vector<MenuItem> conversion = ConversionContextMenu();
  ids.clear();
  CollectIds(conversion, ids);
  EXPECT_EQ(ids, (std::vector<int>{1006, 1007, 1008}));
}

TEST(CommandTable, OnlyBuiltCommandsAreAvailable) {
  for (int id : {1001, 1002, 1003, 1004, 1005, 1010, 1019, 1048, 2001, 2002, 2004, 2014, 2025, 2032, 2033, 3004, 3008,
                 3011, 4001, 4003, 4004, 4005, 4017, 4024, 4025, 4026, 4027, 4028, 4029, 4030, 4031, 4010, 4011, 4012, 4032, 2013, 2034, 7001, 7005, 7009, 7010, 5001, 5004, 5005, 5007,
                 5013, 5009, 5012, 5040, 9001, 9002, 9003, 9004, 9005, 9090, 8000, 8001, 8003, 8004, 8005, 8006, 8009,
                 8011, 8017})
    EXPECT_TRUE(CommandAvailable(id)) << id;
  // Subtracting a noise sample waits for one.
  for (int id : {1011, 3001, 4013, 6000, 7003, 8018, 0})
    EXPECT_FALSE(CommandAvailable(id)) << id;
}

}  // namespace
}  // namespace sonavel
