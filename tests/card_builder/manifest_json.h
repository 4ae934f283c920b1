// The manifest of a built card as JSON:
// {"image_size": N, "seed": N, "noise": "clean",
//  "files": [{"name": "...", "size": N, "sha256": "hex",
//             "extents": [[card_pos, file_offset, length], ...]}, ...]}
#pragma once

#include "card_builder/card_layout.h"

#include <QJsonObject>
#include <QString>

namespace card {

QJsonObject manifest_to_json(const Manifest &manifest);
// `extra` keys go on the top level beside the manifest's own.
bool save_manifest(const Manifest &manifest, const QString &path, QString *error, const QJsonObject &extra = {});
bool load_manifest(const QString &path, Manifest *manifest, QString *error);

}  // namespace card
