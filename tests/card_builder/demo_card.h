// The built-in demo card: what a camera leaves on its card after a short
// session, so the program has something real to find.
#pragma once

#include "card_builder/card_layout.h"

#include <QString>

namespace card {

// Encodes the demo's clips and photos into `cache_dir` and lays them out:
// a JFIF marker photo, clip 1, an Exif marker photo, clip 2 split into two
// extents stored tail first with noise between them, a second Exif marker
// photo, then three ordinary photos. False with the reason in `error`.
bool demo_layout(const QString &cache_dir, Layout *layout, QString *error);

}  // namespace card
