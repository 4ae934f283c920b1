#include "card_builder/camera_session.h"

#include "card_builder/photo_headers.h"

namespace card {

SessionOptions::SessionOptions()
{
    main.width = 640;
    main.height = 360;
    main.bitrate_kbps = 3000;
    main.brand = QStringLiteral("mp41");
    proxy.width = 320;
    proxy.height = 180;
    proxy.bitrate_kbps = 500;
    proxy.brand = QStringLiteral("mp41");
}

namespace {

bool photo(int width, int height, int pattern, PhotoHeader header, const QString &name, const QString &cache_dir,
           Content *out, QString *error)
{
    PhotoOptions o;
    o.width = width;
    o.height = height;
    o.pattern = pattern;
    const QByteArray jpeg = with_photo_header(encode_photo(o, cache_dir, error), header);
    if (jpeg.isEmpty() && error->isEmpty())
        *error = QStringLiteral("%1: no header could be set").arg(name);
    *out = Content::bytes(name, jpeg);
    return !jpeg.isEmpty();
}

bool clip(ClipOptions o, int recording, const QString &name, const QString &cache_dir, Content *out, QString *error)
{
    o.pattern = recording;
    o.seconds += 0.5 * (recording % 3);
    const QString path = encode_clip(o, cache_dir, error);
    *out = Content::file(path, name);
    return !path.isEmpty();
}

}  // namespace

bool camera_session_layout(const SessionOptions &options, const QString &cache_dir, Layout *layout, QString *error)
{
    if (options.recordings < 1 || options.recordings > 9999 || options.run == 0 || options.proxy_run == 0) {
        *error = QStringLiteral("a session needs 1 to 9999 recordings and runs above 0");
        return false;
    }
    static const PhotoHeader marker_headers[] = {PhotoHeader::Jfif, PhotoHeader::Exif2044, PhotoHeader::Exif14831};
    int markers = 0;
    auto marker = [&](Layout &l) {
        Content c;
        const PhotoHeader header = marker_headers[markers % 3];
        ++markers;
        if (!photo(640, 480, 100 + markers, header, QStringLiteral("MARK%1.JPG").arg(markers, 4, 10, QLatin1Char('0')),
                   cache_dir, &c, error))
            return false;
        l.contiguous(c);
        return true;
    };

    Layout l;
    l.seed = options.seed;
    l.tail = options.tail;
    if (options.markers == SessionMarkers::AroundAll && !marker(l))
        return false;
    for (int i = 0; i < options.recordings; ++i) {
        const QString number = QStringLiteral("%1").arg(i + 1, 4, 10, QLatin1Char('0'));
        if (options.markers == SessionMarkers::BeforeEach && !marker(l))
            return false;
        if (options.thumbnails) {
            Content thumbnail;
            if (!photo(160, 120, i, PhotoHeader::Plain, QStringLiteral("GX01%1.THM").arg(number), cache_dir,
                       &thumbnail, error))
                return false;
            l.contiguous(thumbnail);
        }
        Content main, proxy;
        if (!clip(options.main, i, QStringLiteral("GX01%1.MP4").arg(number), cache_dir, &main, error))
            return false;
        if (options.proxies) {
            if (!clip(options.proxy, i, QStringLiteral("GL01%1.LRV").arg(number), cache_dir, &proxy, error))
                return false;
            l.interleaved(main, proxy, options.run, NEXT_FREE, options.proxy_run);
        } else {
            l.contiguous(main);
        }
    }
    if (options.markers == SessionMarkers::AroundAll && !marker(l))
        return false;
    l.placements.front().at = options.at;  // noise before it, as a card's reserved area
    *layout = l;
    return true;
}

QString session_markers_name(SessionMarkers markers)
{
    switch (markers) {
    case SessionMarkers::None:
        return QStringLiteral("none");
    case SessionMarkers::AroundAll:
        return QStringLiteral("around");
    case SessionMarkers::BeforeEach:
        return QStringLiteral("before-each");
    }
    return {};
}

bool session_markers_from_name(const QString &name, SessionMarkers *markers)
{
    for (SessionMarkers m : {SessionMarkers::None, SessionMarkers::AroundAll, SessionMarkers::BeforeEach})
        if (session_markers_name(m) == name) {
            *markers = m;
            return true;
        }
    return false;
}

}  // namespace card
