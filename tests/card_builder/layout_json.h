// Reads a card layout from JSON (the format is in README.md beside this file).
#pragma once

#include "card_builder/card_layout.h"

#include <QByteArray>
#include <QString>

namespace card {

// Relative "path"s are taken from `base_dir`; "clip" and "photo" entries are
// encoded with ffmpeg into `cache_dir`. False with the reason in `error` for
// malformed JSON, an unknown key, a bad number or a failed encode.
bool layout_from_json(const QByteArray &json, const QString &base_dir, const QString &cache_dir, Layout *layout,
                      QString *error);

}  // namespace card
