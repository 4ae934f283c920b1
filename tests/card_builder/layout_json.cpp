#include "card_builder/layout_json.h"

#include "card_builder/json_numbers.h"
#include "card_builder/media_encoder.h"
#include "card_builder/photo_headers.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace card {

namespace {

struct Reader {
    QString base_dir;
    QString cache_dir;
    QString error;

    bool fail(const QString &why)
    {
        error = why;
        return false;
    }

    bool keys(const QJsonObject &o, const QStringList &allowed, const QString &what)
    {
        for (const QString &k : o.keys())
            if (!allowed.contains(k))
                return fail(QStringLiteral("%1: unknown key \"%2\"").arg(what, k));
        return true;
    }

    bool number(const QJsonObject &o, const char *key, std::uint64_t *out, const QString &what)
    {
        if (!o.contains(QLatin1String(key)))
            return true;
        return json_u64(o[QLatin1String(key)], out)
               || fail(QStringLiteral("%1: \"%2\" is not a byte count").arg(what, QLatin1String(key)));
    }

    bool integer(const QJsonObject &o, const char *key, int *out, const QString &what)
    {
        std::uint64_t v = static_cast<std::uint64_t>(*out);
        if (!number(o, key, &v, what))
            return false;
        if (v > 1000000)
            return fail(QStringLiteral("%1: \"%2\" is too large").arg(what, QLatin1String(key)));
        *out = static_cast<int>(v);
        return true;
    }

    bool clip(const QJsonObject &o, QString *path, const QString &what)
    {
        ClipOptions c;
        if (!keys(o, {"seconds", "width", "height", "fps", "gop", "bitrate_kbps", "audio", "brand", "quicktime",
                      "moov_first", "pattern", "keep_sei", "delimiters", "codec"}, what)
            || !integer(o, "width", &c.width, what) || !integer(o, "height", &c.height, what)
            || !integer(o, "fps", &c.fps, what) || !integer(o, "gop", &c.gop, what)
            || !integer(o, "bitrate_kbps", &c.bitrate_kbps, what) || !integer(o, "pattern", &c.pattern, what))
            return false;
        c.seconds = o["seconds"].toDouble(c.seconds);
        c.audio = o["audio"].toBool(c.audio);
        c.brand = o["brand"].toString(c.brand);
        c.quicktime = o["quicktime"].toBool(c.quicktime);
        c.moov_first = o["moov_first"].toBool(c.moov_first);
        c.keep_sei = o["keep_sei"].toBool(c.keep_sei);
        c.delimiters = o["delimiters"].toBool(c.delimiters);
        const QString codec = o["codec"].toString(QStringLiteral("h264"));
        if (codec == QLatin1String("h265"))
            c.codec = ClipCodec::H265;
        else if (codec != QLatin1String("h264"))
            return fail(QStringLiteral("%1: \"codec\" is \"h264\" or \"h265\"").arg(what));
        if (!(c.seconds > 0 && c.seconds <= 3600))
            return fail(QStringLiteral("%1: \"seconds\" must be above 0 and at most 3600").arg(what));
        QString why;
        *path = encode_clip(c, cache_dir, &why);
        return !path->isEmpty() || fail(QStringLiteral("%1: %2").arg(what, why));
    }

    bool photo(const QJsonObject &o, QByteArray *jpeg, const QString &what)
    {
        PhotoOptions p;
        if (!keys(o, {"width", "height", "quality", "pattern"}, what) || !integer(o, "width", &p.width, what)
            || !integer(o, "height", &p.height, what) || !integer(o, "quality", &p.quality, what)
            || !integer(o, "pattern", &p.pattern, what))
            return false;
        QString why;
        *jpeg = encode_photo(p, cache_dir, &why);
        return !jpeg->isEmpty() || fail(QStringLiteral("%1: %2").arg(what, why));
    }

    // The content keys of a file entry: "name" with one of "path", "hex",
    // "clip" or "photo", and an optional "header" for JPEGs.
    bool content(const QJsonObject &o, Content *out, const QString &what)
    {
        const QString name = o["name"].toString();
        int sources = 0;
        for (const char *k : {"path", "hex", "clip", "photo"})
            sources += o.contains(QLatin1String(k));
        if (sources != 1)
            return fail(QStringLiteral("%1: give exactly one of \"path\", \"hex\", \"clip\", \"photo\"").arg(what));
        if (name.isEmpty() && !o.contains("path"))
            return fail(QStringLiteral("%1: needs a \"name\"").arg(what));
        if (o.contains("path")) {
            *out = Content::file(QDir(base_dir).absoluteFilePath(o["path"].toString()), name);
        } else if (o.contains("hex")) {
            const QByteArray hex = o["hex"].toString().toLatin1();
            const QByteArray bytes = QByteArray::fromHex(hex);
            if (hex.isEmpty() || bytes.toHex() != hex.toLower())
                return fail(QStringLiteral("%1: \"hex\" is not an even run of hex digits").arg(what));
            *out = Content::bytes(name, bytes);
        } else if (o.contains("clip")) {
            QString path;
            if (!clip(o["clip"].toObject(), &path, what))
                return false;
            *out = Content::file(path, name);
        } else {
            QByteArray jpeg;
            if (!photo(o["photo"].toObject(), &jpeg, what))
                return false;
            *out = Content::bytes(name, jpeg);
        }
        if (o.contains("header"))
            return header(o["header"].toString(), out, what);
        return true;
    }

    bool header(const QString &kind, Content *c, const QString &what)
    {
        static const QList<QPair<QString, PhotoHeader>> kinds = {{"jfif", PhotoHeader::Jfif},
                                                                 {"exif2044", PhotoHeader::Exif2044},
                                                                 {"exif14831", PhotoHeader::Exif14831},
                                                                 {"plain", PhotoHeader::Plain}};
        for (const auto &k : kinds) {
            if (k.first != kind)
                continue;
            if (!c->path.isEmpty()) {
                QFile f(c->path);
                if (!f.open(QIODevice::ReadOnly))
                    return fail(QStringLiteral("%1: cannot read %2").arg(what, c->path));
                *c = Content::bytes(c->name, f.readAll());
            }
            c->data = with_photo_header(c->data, k.second);
            return !c->data.isEmpty() || fail(QStringLiteral("%1: not a JPEG, no header to set").arg(what));
        }
        return fail(QStringLiteral("%1: \"header\" must be jfif, exif2044, exif14831 or plain").arg(what));
    }

    bool placement(const QJsonObject &o, Layout *layout, const QString &what)
    {
        Placement p;
        if (!number(o, "at", &p.at, what) || !number(o, "gap", &p.gap, what))
            return false;
        if (o.contains("interleave")) {
            p.kind = Placement::Interleaved;
            const QJsonArray pair = o["interleave"].toArray();
            if (!keys(o, {"interleave", "run", "second_run", "at", "gap"}, what))
                return false;
            if (pair.size() != 2)
                return fail(QStringLiteral("%1: \"interleave\" needs two files").arg(what));
            if (!content(pair[0].toObject(), &p.file, what + QStringLiteral(" (first)"))
                || !content(pair[1].toObject(), &p.second, what + QStringLiteral(" (second)"))
                || !number(o, "run", &p.run, what) || !number(o, "second_run", &p.second_run, what))
                return false;
            if (p.run == 0)
                return fail(QStringLiteral("%1: \"interleave\" needs a \"run\"").arg(what));
        } else {
            if (!keys(o, {"name", "path", "hex", "clip", "photo", "header", "at", "gap", "extents"}, what)
                || !content(o, &p.file, what))
                return false;
            if (o.contains("extents")) {
                if (o.contains("at") || o.contains("gap"))
                    return fail(QStringLiteral("%1: \"extents\" takes no \"at\" or \"gap\"").arg(what));
                p.kind = Placement::Split;
                for (const QJsonValue &ev : o["extents"].toArray()) {
                    const QJsonArray a = ev.toArray();
                    Extent e;
                    if (a.size() != 3 || !json_u64(a[0], &e.card_pos) || !json_u64(a[1], &e.file_offset)
                        || !json_u64(a[2], &e.length))
                        return fail(QStringLiteral("%1: an extent is [card_pos, file_offset, length]").arg(what));
                    p.extents.push_back(e);
                }
                if (p.extents.empty())
                    return fail(QStringLiteral("%1: \"extents\" is empty").arg(what));
            }
        }
        layout->placements.push_back(p);
        return true;
    }
};

}  // namespace

bool layout_from_json(const QByteArray &json, const QString &base_dir, const QString &cache_dir, Layout *layout,
                      QString *error)
{
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        *error = QStringLiteral("not a JSON object: %1").arg(parse.errorString());
        return false;
    }
    const QJsonObject root = doc.object();
    Reader r{base_dir, cache_dir, {}};
    Layout l;
    bool ok = r.keys(root, {"size", "tail", "seed", "noise", "files"}, "layout") && r.number(root, "size", &l.size, "layout")
              && r.number(root, "tail", &l.tail, "layout") && r.number(root, "seed", &l.seed, "layout");
    if (ok && root.contains("noise") && !noise_from_name(root["noise"].toString(), &l.noise))
        ok = r.fail(QStringLiteral("layout: \"noise\" must be clean or end-markers"));
    const QJsonArray files = root["files"].toArray();
    for (int i = 0; ok && i < files.size(); ++i)
        ok = r.placement(files[i].toObject(), &l, QStringLiteral("files[%1]").arg(i));
    if (!ok) {
        *error = r.error;
        return false;
    }
    *layout = l;
    return true;
}

}  // namespace card
