// Writes a card image from a layout: every byte of it, noise where no file
// lies, and the manifest of where each file went.
#pragma once

#include "card_builder/card_layout.h"

#include <QString>

namespace card {

struct CardResult {
    bool ok = false;
    QString error;
    Manifest manifest;
};

// Plans `layout` and writes the image to `image_path` (replacing any file
// there). With a `manifest_path`, also saves the manifest there as JSON.
CardResult build_card(const Layout &layout, const QString &image_path, const QString &manifest_path = {});

}  // namespace card
