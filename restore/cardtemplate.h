#pragma once

#include <QString>
#include <QStringList>

// The camera's card structure: five files shipped in the folder "R9相机替换文件" beside the
// program. Their contents belong to the camera; the program only copies and compares them.
namespace CardTemplate {

QString folderName();
// The template folder among the shipped files.
QString folder();
// "PRIVATE/SONY/SONYCARD.IND", "AVF_INFO/AVIN0001.BNP", ... relative to the folder and the card.
QStringList files();
// The first structure file the folder lacks, empty when it has all five.
QString missingFile(const QString &templateFolder);

// Copies source into destination recursively; an existing file is replaced only with overwrite.
// false at the first folder or file that cannot be made.
bool copyDirectory(const QString &source, const QString &destination, bool overwrite);

// The structure pass for one card: the whole folder without overwriting, then each structure
// file on its own (which also never overwrites). Returns whether the card then holds them.
bool write(const QString &templateFolder, const QString &cardRoot);

// All five structure files are on the card with the template's bytes.
bool holds(const QString &templateFolder, const QString &cardRoot);

} // namespace CardTemplate
