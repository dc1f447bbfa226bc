// Manifests the tool writes: the commented starter of `init`, and the manifest of an existing screensaver's
// content (`extract --manifest`), which builds that content again.
#pragma once

#include <string>

#include "store/uExeAdder.h"

// The starter manifest, every key shown with its meaning; movie is the movie it names ("movie.swf" when empty),
// manifestName the name its first line builds with.
std::string StarterManifest(const std::string& manifestName, const std::string& movie);

// Writes the starter manifest to a new file; returns what to tell the user. Raises EPackError when the file
// exists (it is never replaced) or cannot be written.
std::string WriteStarterManifest(const std::string& fileName, const std::string& movie);

// Writes DIR/screensaver.toml and the files it names (the movie beside it, additional files under files/, the
// dialog's picture under dialog/), texts turned back from codePage into UTF-8. Building that manifest with the
// same runtime gives the same bytes for any screensaver this tool built. Items the runtime does not read are
// left out and named in the returned report. Raises EPackError naming source for an item that cannot be
// turned into a manifest value, or a file that cannot be written.
std::string ExtractManifest(const std::string& source, const TItemTypes& items, const std::string& dir, int codePage);
