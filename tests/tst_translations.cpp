// The five catalogs carry every text the code looks up, each really translated.
#include <QDir>
#include <QRegularExpression>
#include <QTranslator>
#include <QtTest>

namespace {
QString read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
const QDir kSources(QStringLiteral(HALVERN_SOURCE_DIR));

// Context and source of every text looked up: tr() in each window class (in the context of
// the class the file defines), the texts marked for a context of their own (the window's
// table of device errors, the notices the start-up translates) and the forms' texts (in the
// context of the form's class, those not marked untranslatable).
QList<QPair<QByteArray, QString>> textsTheCodeTranslates()
{
    // One or more adjacent string literals, which the compiler joins.
    const QString literals = QString(R"(((?:"(?:[^"\\]|\\.)*"\s*)+)[,)])");
    const QRegularExpression member(R"(^[A-Za-z][^;{}\n]*?\b([A-Z]\w*)::~?[a-z]\w*\()",
                                    QRegularExpression::MultilineOption);
    const QRegularExpression formClass(QStringLiteral("<class>(\\w+)</class>"));
    const QRegularExpression trCall(R"(\btr\(\s*)" + literals);
    const QRegularExpression formText(QStringLiteral("<string>([^<]+)</string>"));
    const QRegularExpression inContext(R"x(\b(?:translate|QT_TRANSLATE_NOOP)\(\s*"(\w+)",\s*)x" +
                                       literals);
    const QRegularExpression literal(R"x("((?:[^"\\]|\\.)*)")x");
    const auto joined = [&literal](const QString &found) {
        QString text;
        for (auto part = literal.globalMatch(found); part.hasNext();)
            text += part.next().captured(1).replace(QStringLiteral("\\\""), QStringLiteral("\""));
        return text;
    };
    QList<QPair<QByteArray, QString>> texts;
    const QDir ui(kSources.filePath("ui"));
    QStringList paths{kSources.filePath("app/ToolMain.cpp")};
    for (const QString &name : ui.entryList({"*.cpp", "*.ui"}, QDir::Files))
        paths << ui.filePath(name);
    for (const QString &path : paths) {
        const QString code = read(path);
        const bool form = path.endsWith(".ui");
        const QByteArray context = (form ? formClass : member).match(code).captured(1).toLatin1();
        for (auto it = (form ? formText : trCall).globalMatch(code); it.hasNext();) {
            QString found = it.next().captured(1);
            texts.append(
                {context,
                 form ? found.replace("&amp;", "&").replace("&lt;", "<").replace("&gt;", ">")
                      : joined(found)});
        }
        for (auto it = inContext.globalMatch(code); it.hasNext();) {
            const auto match = it.next();
            texts.append({match.captured(1).toLatin1(), joined(match.captured(2))});
        }
    }
    return texts;
}
} // namespace

class tst_Translations : public QObject
{
    Q_OBJECT

private slots:
    // A text the code looks up but a catalog lacks would show in English in that language;
    // one left as its source would too. The window's button and the message's say the same,
    // and a language's name reads as in that language.
    void catalogs()
    {
        const auto texts = textsTheCodeTranslates();
        QVERIFY(texts.size() >= 48);
        for (const char *code : {"en_EN", "zh_CN", "ja_JP", "ru_RU", "fr_FR"}) {
            QTranslator catalog;
            QVERIFY(catalog.load(QStringLiteral(":/translations/HalvernFirmwareTool_") + code));
            QStringList missing;
            int untranslated = 0;
            for (const auto &[context, text] : texts) {
                const QString translation = catalog.translate(context, text.toUtf8());
                if (!text.isEmpty() && translation.isEmpty())
                    missing << context + ": " + text;
                untranslated += translation == text ? 1 : 0;
            }
            QVERIFY2(missing.isEmpty(), qPrintable(code + (": " + missing.join('\n'))));
            QVERIFY2(qstrcmp(code, "en_EN") == 0 || untranslated * 3 < texts.size(), code);
            QCOMPARE(catalog.translate("MessageDialog", "Update Firmware"),
                     catalog.translate("MainWindow", "Update Firmware"));
            QCOMPARE(catalog.translate("MainWindow", "Russian"), QString::fromUtf8("русский"));
        }
    }
};

QTEST_MAIN(tst_Translations)
#include "tst_translations.moc"
