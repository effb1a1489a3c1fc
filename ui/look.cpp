#include "look.h"

namespace Look {

QString fontFamily()
{
    return QStringLiteral("微软雅黑");
}

QFont font(int pointSize)
{
    return QFont(fontFamily(), pointSize);
}

QString resource(const char *name)
{
    return QStringLiteral(":/V7KAPP/res/") + QString::fromUtf8(name);
}

QPixmap picture(const char *name)
{
    return QPixmap(resource(name));
}

} // namespace Look
