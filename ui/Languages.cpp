#include "ui/Languages.h"

#include <QCoreApplication>
#include <QDebug>
#include <QTranslator>

#include <iterator>

namespace {

struct Language
{
    const char *catalog;
    const char *font;
};

constexpr Language kLanguages[] = {
    {":/translations/HalvernFirmwareTool_en_EN.qm", "Microsoft Sans Serif"},
    {":/translations/HalvernFirmwareTool_zh_CN.qm", "DengXian"},
    {":/translations/HalvernFirmwareTool_ja_JP.qm", "Kochi Gothic"},
    {":/translations/HalvernFirmwareTool_ru_RU.qm", "Consolas"},
    {":/translations/HalvernFirmwareTool_fr_FR.qm", "Arbutus Slab"},
};

const Language &language(int index)
{
    return index >= 1 && index < int(std::size(kLanguages)) ? kLanguages[index] : kLanguages[0];
}

} // namespace

namespace Languages {

QString fontFamily(int index)
{
    return QString::fromLatin1(language(index).font);
}

void installCatalog(QTranslator &translator, int index)
{
    const char *catalog = language(index).catalog;
    if (!translator.load(QString::fromLatin1(catalog)))
        qDebug().noquote() << "translation catalog not loaded:" << catalog;
    // Taken out first, so repeated calls do not stack the same translator.
    QCoreApplication::removeTranslator(&translator);
    QCoreApplication::installTranslator(&translator);
}

} // namespace Languages
