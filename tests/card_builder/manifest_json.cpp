#include "card_builder/manifest_json.h"

#include "card_builder/json_numbers.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

namespace card {

QJsonObject manifest_to_json(const Manifest &manifest)
{
    QJsonArray files;
    for (const PlacedFile &f : manifest.files) {
        QJsonArray extents;
        for (const Extent &e : f.extents)
            extents.append(QJsonArray{double(e.card_pos), double(e.file_offset), double(e.length)});
        files.append(QJsonObject{{"name", f.name},
                                 {"size", double(f.size)},
                                 {"sha256", QString::fromLatin1(f.sha256)},
                                 {"extents", extents}});
    }
    return QJsonObject{{"image_size", double(manifest.image_size)},
                       {"seed", double(manifest.seed)},
                       {"noise", noise_name(manifest.noise)},
                       {"files", files}};
}

bool save_manifest(const Manifest &manifest, const QString &path, QString *error, const QJsonObject &extra)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
        return false;
    }
    // One line per file: readable, and still small for a card of many files.
    QJsonObject root = manifest_to_json(manifest);
    QStringList keys = {"image_size", "seed", "noise"};
    for (auto it = extra.begin(); it != extra.end(); ++it)
        if (!root.contains(it.key())) {
            root[it.key()] = it.value();
            keys << it.key();
        }
    QByteArray text = "{\n";
    for (const QString &key : keys)
        text += "  \"" + key.toUtf8() + "\": " + QJsonDocument(QJsonArray{root[key]}).toJson(QJsonDocument::Compact).mid(1).chopped(1) + ",\n";
    text += "  \"files\": [";
    const QJsonArray files = root["files"].toArray();
    for (int i = 0; i < files.size(); ++i)
        text += (i ? ",\n    " : "\n    ") + QJsonDocument(files[i].toObject()).toJson(QJsonDocument::Compact);
    text += "\n  ]\n}\n";
    f.write(text);
    if (!f.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

bool load_manifest(const QString &path, Manifest *manifest, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return false;
    }
    QJsonParseError parse{};
    const QJsonObject root = QJsonDocument::fromJson(f.readAll(), &parse).object();
    Manifest m;
    bool ok = parse.error == QJsonParseError::NoError && json_u64(root["image_size"], &m.image_size)
              && json_u64(root["seed"], &m.seed) && noise_from_name(root["noise"].toString(), &m.noise)
              && root["files"].isArray();
    for (const QJsonValue &fv : root["files"].toArray()) {
        const QJsonObject fo = fv.toObject();
        PlacedFile pf;
        pf.name = fo["name"].toString();
        pf.sha256 = fo["sha256"].toString().toLatin1();
        ok = ok && json_u64(fo["size"], &pf.size) && fo["extents"].isArray();
        for (const QJsonValue &ev : fo["extents"].toArray()) {
            const QJsonArray a = ev.toArray();
            Extent e;
            ok = ok && a.size() == 3 && json_u64(a[0], &e.card_pos) && json_u64(a[1], &e.file_offset)
                 && json_u64(a[2], &e.length);
            pf.extents.push_back(e);
        }
        m.files.push_back(pf);
    }
    if (!ok) {
        *error = QStringLiteral("%1 is not a card manifest").arg(path);
        return false;
    }
    *manifest = m;
    return true;
}

}  // namespace card
