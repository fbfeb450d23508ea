#pragma once
// The two readers of a manifest document. parseManifest tries the plain one
// first and, when it declines, reads the document through the JSON library,
// whose values and error texts are the ones users see; for every document
// the plain reader takes, both give the same manifest.
#include <string>
#include <string_view>

#include "patch/manifest.h"

namespace mendly {

// Fills `out` from a document in the plain form json_reader.h takes, holding
// what the library reader would give; false (with `out` in any state) for a
// document it leaves to the library: outside that form, not well formed, or
// breaking a rule of the format.
[[nodiscard]] bool readPlainManifest(std::string_view bytes, PatchManifest& out);

// Fills `out` from any document through the JSON library; throws its
// exceptions (their texts follow "manifest parse: ").
void readManifestDocument(std::string_view bytes, PatchManifest& out);

// A path as it may appear inside a message: control characters as \xNN.
std::string printablePath(std::string_view path);

}  // namespace mendly
