#pragma once
// File associations as the registry stand-in records them: ".MP3" points at the class
// "miniLirra.MP3", whose keys carry the icon, the open command ("/Open") and the add-to-playlist
// command ("/List"). A previous owner of the extension is kept as "BakType" and given back when
// the association is removed.
#include <string>
#include <vector>

namespace ml {

class TRegistryStore;

struct TAssociationTarget {
  std::string AppTitle;
  std::string ExecutablePath;
  std::vector<std::string> IconNames;  // the program's icon groups, in resource order
};

// Writes every extension; with force false an extension already pointing at us is left alone.
// Returns how many extensions were written.
int RegisterFileAssociations(TRegistryStore& registry, const std::vector<std::string>& exts, bool force,
                             const TAssociationTarget& target);
void UnregisterFileAssociation(TRegistryStore& registry, const std::string& ext);
std::string AssociationClassName(const std::string& ext);

}  // namespace ml
