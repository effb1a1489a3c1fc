#pragma once

#include <QString>

// "UpdateConfig.xml", shipped beside the program: the newest firmware offered with it.
struct UpdateConfig
{
    QString version;   // last <num value="..."/> under <config>; empty = nothing offered
    QString fileName;  // <filename value="..."/>, only when it is the first child of <config>

    static UpdateConfig read(const QString &path);
    static QString defaultPath(); // in the shipped-files folder

    // Camera version "major.minor" is older than the offered one (both read as decimal numbers).
    bool offersNewerThan(const QString &cameraVersion) const;
};
