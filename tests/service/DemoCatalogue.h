#pragma once
// The demo catalogue (scripts/demo-catalogue) as the tests use it: generated once per test
// program into a temporary folder, removed at exit.
#include <string>

namespace mlsvctest {

// The folder of the 45-song demo catalogue; fails the calling test when it cannot be made.
const std::string& DemoCatalogueFolder();

// What the script guarantees (see its head).
constexpr int kDemoSongs = 45;
constexpr int kDemoLyrics = 36;
inline const char* const kDemoWord = "星光";  // in the titles of kDemoWordSongs songs
constexpr int kDemoWordSongs = 28;
inline const char* const kDemoArtist = "Luna Park";  // kDemoArtistSongs songs
constexpr int kDemoArtistSongs = 4;

}  // namespace mlsvctest
