#pragma once

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include "matchview.h"
#include "offloadpos.h"
#include "qualityfindings.h"

// The flight report of a completed offload: the match of photos to POS records with each
// camera's offload counts, as "offload-report.json" and as one self-contained
// "offload-report.html" (inline CSS and SVG) that opens on a field laptop without a network.
class FlightReport
{
public:
    struct Counts
    {
        int onCard = 0;
        int copied = 0;
        int verified = 0;
        int failed = 0;
        QStringList failures; // the reasons, one per failed photo or stopped camera
        // Copies named otherwise than on the card (the target folds the names together),
        // "card path -> copy path" below the camera folder.
        QStringList renamed;
    };

    static QString jsonFileName(); // "offload-report.json"
    static QString htmlFileName(); // "offload-report.html"
    // "前视相机", ... by the camera's folder name.
    static QString cameraText(const QString &cameraName);

    FlightReport(const QJsonObject &match, const QList<OffloadPosSet> &pos);

    void setCounts(const QString &cameraName, const Counts &counts);
    void setTarget(const QString &target) { m_target = target; }
    void setWritten(const QString &when) { m_written = when; } // shown under the title
    // The note of an offload into zip volumes with POS data: no photogrammetry export was
    // written, as those programs cannot read photos inside archives; they need plain mode.
    static QString exportsNeedPlainText();

    // The look at the copies: a section of the report, its lines in the summary, its flags in
    // the JSON and the map's markers coloured by them.
    void setQuality(const QualityFindings &findings);

    // A line for the report and its summary, after the others.
    void addNote(const QString &note) { m_notes << note; }
    // The target has no hard links, so the sortie's OpenDroneMap project folder was not made;
    // without camera names in the copies' names the operator is told to tick that option.
    static QString noHardLinksText(bool cameraPrefix);

    // Runs of missed records as the report lists them, per sortie with its count:
    // "第1架次 第1–400、701–3,000条记录（3,700条）"; after limit runs the rest are counted.
    static QString runsText(const QList<MatchView::Run> &runs, int limit = 200);

    // The match object with each camera's counts added to its entry.
    QJsonObject json() const;
    QString html() const;
    // A few lines for the offload page: per camera the copies and the match.
    QString summary() const;

    // Both files into folder; false with the reason.
    bool write(const QString &folder, QString *error) const;

private:
    QStringList cameraNames() const; // the match's, then those only copied
    MatchView::Camera matchOf(const QString &name) const;
    QString cameraTable() const;
    QString sortieTable() const;
    QString exceptions() const;
    QString sortieMap(const MatchView::Sortie &sortie) const;
    QString qualitySection() const;
    static const char *flagColour(int flag); // of a quality flag on the map and in the section

    QJsonObject m_match;
    MatchView m_view;
    QList<OffloadPosSet> m_pos;
    QHash<QString, Counts> m_counts;
    QStringList m_countOrder;
    QString m_target;
    QString m_written;
    QStringList m_notes;
    bool m_looked = false;
    QualityFindings m_quality;
};
