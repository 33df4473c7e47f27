#pragma once

#include <QString>

class QTranslator;

// The five interface languages, by the index stored under "CurrentLanguage": 0 English,
// 1 Chinese, 2 Japanese, 3 Russian, 4 French. Any other index is shown like English.
namespace Languages {

// The font family the language's texts are shown in.
QString fontFamily(int index);

// Loads the language's catalog into translator and installs it; calling it again replaces the
// catalog without stacking the translator. A catalog that does not load leaves the source texts.
void installCatalog(QTranslator &translator, int index);

} // namespace Languages
