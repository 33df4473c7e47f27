#include "app/ApplicationFonts.h"

#include <QDebug>
#include <QFontDatabase>

QStringList applicationFontPaths()
{
    return {
        QStringLiteral(":/fonts/cn-msyh.ttf"),
        QStringLiteral(":/fonts/en-micross.ttf"),
        QStringLiteral(":/fonts/jp-msgothic.ttf"),
        QStringLiteral(":/fonts/ru-consola.ttf"),
        QStringLiteral(":/fonts/arbutusslab-regular.ttf"),
        QStringLiteral(":/fonts/FontAwesome.otf"),
    };
}

int loadApplicationFonts(const QStringList &paths)
{
    int loaded = 0;
    for (const QString &path : paths) {
        const int id = QFontDatabase::addApplicationFont(path);
        if (id < 0) {
            qWarning() << path << "could not be loaded!";
            continue;
        }
        ++loaded;
        qDebug() << "App Font Families:" << id << QFontDatabase::applicationFontFamilies(id);
    }
    return loaded;
}
