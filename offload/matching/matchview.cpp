#include "matchview.h"

#include <QJsonArray>

#include "cameras.h"

namespace {

MatchView::Record record(const QJsonObject &o)
{
    return MatchView::Record{o.value(QLatin1String("sortie")).toInt(),
                             o.value(QLatin1String("index")).toInt()};
}

int engineNumber(const QString &name)
{
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        if (name.compare(QLatin1String(Cameras::folderName(camera)), Qt::CaseInsensitive) == 0)
            return camera;
    }
    return -1;
}

} // namespace

MatchView MatchView::read(const QJsonObject &match)
{
    MatchView view;
    for (const QJsonValue &value : match.value(QLatin1String("cameras")).toArray()) {
        const QJsonObject o = value.toObject();
        Camera c;
        c.name = o.value(QLatin1String("camera")).toString();
        c.engineNumber = engineNumber(c.name);
        c.photos = o.value(QLatin1String("photos")).toInt();
        c.matched = o.value(QLatin1String("matched")).toInt();
        c.method = o.value(QLatin1String("method")).toString();
        c.offsetSeconds = o.value(QLatin1String("offsetSeconds")).toDouble();
        c.offsetSpread = o.value(QLatin1String("offsetSpread")).toDouble();
        for (const QJsonValue &m : o.value(QLatin1String("missed")).toArray()) {
            const QJsonObject run = m.toObject();
            const int from = run.value(QLatin1String("from")).toInt();
            c.missed.append(Run{run.value(QLatin1String("sortie")).toInt(), from,
                                run.value(QLatin1String("to")).toInt(from)});
            c.missedCount += c.missed.last().count();
        }
        for (const QJsonValue &e : o.value(QLatin1String("extra")).toArray())
            c.extra.append(e.toString());
        for (const QJsonValue &p : o.value(QLatin1String("pairs")).toArray()) {
            const QJsonObject pair = p.toObject();
            c.pairs.append(Pair{pair.value(QLatin1String("photo")).toString(), record(pair)});
        }
        view.cameras.append(c);
    }
    for (const QJsonValue &value : match.value(QLatin1String("sorties")).toArray()) {
        const QJsonObject o = value.toObject();
        Sortie s;
        s.number = o.value(QLatin1String("number")).toInt();
        s.file = o.value(QLatin1String("file")).toString();
        s.records = o.value(QLatin1String("records")).toInt();
        s.start = o.value(QLatin1String("start")).toString();
        s.end = o.value(QLatin1String("end")).toString();
        view.sorties.append(s);
    }
    return view;
}
