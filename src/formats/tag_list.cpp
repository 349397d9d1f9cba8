#include "formats/tag_list.h"

#include <algorithm>

namespace sonavel {

void TagList::Set(std::string_view name, std::string_view text) {
  for (Entry& entry : entries_) {
    if (entry.name == name) {
      entry.text = text;
      return;
    }
  }
  entries_.insert(entries_.begin(), Entry{std::string(name), std::string(text)});
}

std::string TagList::Get(std::string_view name) const {
  for (const Entry& entry : entries_)
    if (entry.name == name) return entry.text;
  return {};
}

bool IsTagName(std::string_view name) {
  return std::find(kTagNames.begin(), kTagNames.end(), name) != kTagNames.end();
}

const std::array<std::string_view, kGenreCount>& GenreNames() {
  static constexpr std::array<std::string_view, kGenreCount> kNames = {
      "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal",
      "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
      "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop",
      "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game",
      "Sound Clip", "Gospel", "Noise", "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative",
      "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial",
      "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40",
      "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave", "Psychadelic", "Rave",
      "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical",
      "Rock & Roll", "Hard Rock", "Folk", "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebob",
      "Latin", "Revival", "Celtic", "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock",
      "Psychedelic Rock", "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic",
      "Humour", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus",
      "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad", "Power Ballad",
      "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "A capella", "Euro-House", "Dance Hall",
      "Goa", "Drum & Bass", "Club-House", "Hardcore", "Terror", "Indie", "BritPop", "Negerpunk", "Polsk Punk",
      "Beat", "Christian Gangsta Rap", "Heavy Metal", "Black Metal", "Crossover", "Contemporary Christian",
      "Christian Rock", "Merengue", "Salsa", "Thrash Metal", "Anime", "JPop", "Synthpop"};
  return kNames;
}

int GenreIndex(std::string_view name) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  const auto& names = GenreNames();
  for (int i = 0; i < kGenreCount; ++i) {
    const std::string_view genre = names[static_cast<std::size_t>(i)];
    if (genre.size() == name.size() &&
        std::equal(genre.begin(), genre.end(), name.begin(), [&](char a, char b) { return lower(a) == lower(b); }))
      return i;
  }
  return -1;
}

}  // namespace sonavel
