// The bundle: the five catalogs carry every text the code looks up, and every picture and
// file the code, the forms and the style sheet load is there.
#include <QDir>
#include <QImageReader>
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
// table of device errors, the notices the start-up translates) and the forms' texts.
QList<QPair<QByteArray, QString>> textsTheCodeTranslates()
{
    QList<QPair<QByteArray, QString>> texts;
    const QRegularExpression member(
        QStringLiteral("^[A-Za-z][^;{}\\n]*?\\b([A-Z]\\w*)::~?[a-z]\\w*\\("),
        QRegularExpression::MultilineOption);
    // One or more adjacent string literals, which the compiler joins.
    const QString literals = QStringLiteral("((?:\"(?:[^\"\\\\]|\\\\.)*\"\\s*)+)[,)]");
    const QRegularExpression trCall(QStringLiteral("\\btr\\(\\s*") + literals);
    const QRegularExpression inContext(
        QStringLiteral("\\b(?:translate|QT_TRANSLATE_NOOP)\\(\\s*\"(\\w+)\",\\s*") + literals);
    const QRegularExpression literal(QStringLiteral("\"((?:[^\"\\\\]|\\\\.)*)\""));
    const auto joined = [&literal](const QString &found) {
        QString text;
        for (auto part = literal.globalMatch(found); part.hasNext();)
            text += part.next().captured(1).replace(QStringLiteral("\\\""), QStringLiteral("\""));
        return text;
    };
    // A form's context is its class; its texts are the strings not marked untranslatable.
    const QRegularExpression formClass(QStringLiteral("<class>(\\w+)</class>"));
    const QRegularExpression formText(QStringLiteral("<string>([^<]+)</string>"));
    const QDir ui(kSources.filePath("ui"));
    QStringList code{kSources.filePath("app/ToolMain.cpp")};
    for (const QString &name : ui.entryList({"*.cpp", "*.ui"}, QDir::Files)) {
        const QString text = read(ui.filePath(name));
        if (name.endsWith(".cpp")) {
            code << ui.filePath(name);
            const QByteArray context = member.match(text).captured(1).toLatin1();
            for (auto it = trCall.globalMatch(text); it.hasNext();)
                texts.append({context, joined(it.next().captured(1))});
            continue;
        }
        const QByteArray context = formClass.match(text).captured(1).toLatin1();
        for (auto it = formText.globalMatch(text); it.hasNext();)
            texts.append({context, it.next()
                                       .captured(1)
                                       .replace("&amp;", "&")
                                       .replace("&lt;", "<")
                                       .replace("&gt;", ">")});
    }
    for (const QString &path : code) {
        for (auto it = inContext.globalMatch(read(path)); it.hasNext();) {
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
    // one left as its source would too.
    void catalogs()
    {
        const auto texts = textsTheCodeTranslates();
        QVERIFY(texts.size() >= 48);
        for (const auto &[code, update] : {std::pair{"en_EN", "Update Firmware"},
                                           {"zh_CN", "更新固件"},
                                           {"ja_JP", "ファームウェアを更新"},
                                           {"ru_RU", "Обновить прошивку"},
                                           {"fr_FR", "Mettre à jour le firmware"}}) {
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
                     QString::fromUtf8(update));
            QCOMPARE(catalog.translate("MainWindow", "Update Firmware"), QString::fromUtf8(update));
            QCOMPARE(catalog.translate("MainWindow", "Russian"), QString::fromUtf8("русский"));
            QCOMPARE(catalog.translate("SettingsDialog", "UNDEFINE"), QStringLiteral("[TBD]"));
        }
    }

    // Every file the code and the forms name is in the bundle; every picture the style sheet
    // names comes with a sharp twice-as-large version for scaled screens.
    void resources()
    {
        const QRegularExpression named(QStringLiteral("(:/[\\w/.@-]+\\.\\w+)"));
        int checked = 0;
        for (const char *folder : {"ui", "app"}) {
            const QDir dir(kSources.filePath(folder));
            for (const QString &name : dir.entryList({"*.cpp", "*.ui"}, QDir::Files)) {
                for (auto it = named.globalMatch(read(dir.filePath(name))); it.hasNext();
                     ++checked) {
                    const QString path = it.next().captured(1);
                    QVERIFY2(QFile::exists(path), qPrintable(path));
                }
            }
        }
        QVERIFY(checked >= 15);
        const QRegularExpression url(QStringLiteral("url\\((:[^)]+)\\)"));
        for (auto it = url.globalMatch(read(":/ui/style.qss")); it.hasNext();) {
            const QString path = it.next().captured(1);
            const QSize size = QImageReader(path).size();
            QVERIFY2(size.isValid(), qPrintable(path));
            QCOMPARE(QImageReader(QString(path).replace(".png", "@2x.png")).size(), size * 2);
        }
    }
};

QTEST_MAIN(tst_Translations)
#include "tst_translations.moc"
