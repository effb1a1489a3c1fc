#pragma once

#include <QFont>
#include <QPixmap>
#include <QString>

// One place for the program's font and for where its compiled-in pictures live.
namespace Look {

// The family every text asks for ("微软雅黑"); FrameStyle::registerFontSubstitutions maps it
// onto an installed CJK font where the family itself is missing.
QString fontFamily();
QFont font(int pointSize = -1);

// The resource path of a picture by its file name ("title_bk.png"), and the picture.
QString resource(const char *name);
QPixmap picture(const char *name);

} // namespace Look
