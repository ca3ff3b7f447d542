#pragma once
// What a skin's definition may hold: each form's elements with the images and colours the
// player reads from them (and each colour's default). The skin check and the definition fuzzer
// walk it; the windows ask for the same names.
#include "base/ColorText.h"

#include <string>
#include <utility>
#include <vector>

namespace ml {

class TLuiSkinManager;

struct TSkinElement {
  std::string Form;
  std::string Element;  // empty: the form element itself
  std::vector<std::string> Images;  // attributes naming an entry
  std::vector<std::pair<std::string, TColor>> Colors;
  bool HasPosition = false;
};

// Every form of the definition, in the order a skin author meets them.
const std::vector<std::string>& SkinForms();
// Forms this player never opens (a skin need not draw them).
bool SkinFormUnused(const std::string& form);
const std::vector<TSkinElement>& SkinElementTable();
// The table's entry for an element (its colours' defaults), or null.
const TSkinElement* FindSkinElement(const std::string& form, const std::string& element);

// The skinned buttons, in the order the skin manager numbers them.
enum class TSkinButtonKind {
  bkSelf, bkPlay, bkPause, bkStop, bkNext, bkPrev, bkOpen, bkChangeColor, bkMute, bkUnMute, bkAllCyc,
  bkSingleCyc, bkNoneCyc, bkRandom, bkOrder, bkSearch, bkMainMode, bkEqualizer, bkPlaylist, bkLyric,
  bkMinimize, bkMinimode, bkExit, bkAddSong, bkFindSong, bkSyncSong, bkPlayMode, bkDeleteSong,
  bkSetLRCTopMost, bkSetLRCUntopMost, bkCloseLRC, bkPrevPage, bkNextPage, bkGoBackWebPage,
  bkGoForwardWebPage, bkRefreshWebPage, bkHomeWebPage, bkCloseWeb, bkMaxMode, bkCloseMsg, bkWeb
};
// Where a button's look is defined: its element and its form (null Form: the main form of the
// layout asked for). Element is null for the buttons a skin never supplies.
struct TSkinButtonElement {
  const char* Element = nullptr;
  const char* Form = nullptr;
};
TSkinButtonElement SkinButtonElement(TSkinButtonKind kind);

// What a package holds against the table, form by form: elements present and missing, images
// named but not in the package ("element.attribute: entry"), and values a window could not use
// (a bad colour, a damaged entry).
struct TSkinFormReport {
  std::string Form;
  bool Found = false;
  bool Unused = false;
  std::vector<std::string> Present, Missing, MissingImages, Problems;
};
std::vector<TSkinFormReport> CheckSkin(const TLuiSkinManager& skin);

}  // namespace ml
