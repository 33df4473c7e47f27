// The five catalogs compiled into the bundle: every one loads and carries the wording the
// interface relies on.
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

using Key = QPair<QString, QString>; // context, source text

// Every text the program looks up: tr() in each window class, the forms' translatable strings
// and the notices the start-up translates.
QSet<Key> textsTheCodeTranslates()
{
    QSet<Key> texts;
    const QDir root(QStringLiteral(HALVERN_SOURCE_DIR));
    // tr( followed by one or more adjacent string literals, which the compiler joins.
    const QRegularExpression trCall(
        QStringLiteral("\\btr\\(\\s*((?:\"(?:[^\"\\\\]|\\\\.)*\"\\s*)+)[,)]"));
    const QRegularExpression literal(QStringLiteral("\"((?:[^\"\\\\]|\\\\.)*)\""));
    const auto joined = [&literal](const QString &literals) {
        QString text;
        for (auto it = literal.globalMatch(literals); it.hasNext();)
            text += it.next().captured(1);
        return text.replace(QStringLiteral("\\\""), QStringLiteral("\""));
    };
    const QRegularExpression translateCall(
        QStringLiteral("translate\\(\\s*\"(\\w+)\",\\s*\"((?:[^\"\\\\]|\\\\.)*)\""));
    const QStringList sources =
        QDir(root.filePath(QStringLiteral("ui"))).entryList({QStringLiteral("*.cpp")}, QDir::Files);
    const QRegularExpression memberDefinition(
        QStringLiteral(R"(^[A-Za-z][^;{}\n]*?\b([A-Z]\w*)::~?[a-z]\w*\()"),
        QRegularExpression::MultilineOption);
    for (const QString &name : sources) {
        QFile file(root.filePath(QStringLiteral("ui/") + name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString code = QString::fromUtf8(file.readAll());
        // The class whose members the file defines: a class may spread over several files.
        const QRegularExpressionMatch member = memberDefinition.match(code);
        const QString context =
            member.hasMatch() ? member.captured(1) : QFileInfo(name).completeBaseName();
        for (auto it = trCall.globalMatch(code); it.hasNext();)
            texts.insert({context, joined(it.next().captured(1))});
    }
    for (const QString &path : {QStringLiteral("app/ToolMain.cpp")}) {
        QFile file(root.filePath(path));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString code = QString::fromUtf8(file.readAll());
        for (auto it = translateCall.globalMatch(code); it.hasNext();) {
            const auto match = it.next();
            texts.insert({match.captured(1), match.captured(2)});
        }
    }
    const QStringList forms =
        QDir(root.filePath(QStringLiteral("ui"))).entryList({QStringLiteral("*.ui")}, QDir::Files);
    for (const QString &name : forms) {
        QFile file(root.filePath(QStringLiteral("ui/") + name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QXmlStreamReader xml(&file);
        QString context;
        while (!xml.atEnd()) {
            if (!xml.readNextStartElement())
                continue;
            if (xml.name() == QLatin1String("class") && context.isEmpty()) {
                context = xml.readElementText();
            } else if (xml.name() == QLatin1String("string") &&
                       xml.attributes().value(QLatin1String("notr")) != QLatin1String("true")) {
                const QString text = xml.readElementText();
                if (!text.isEmpty())
                    texts.insert({context, text});
            }
        }
    }
    return texts;
}

// context -> source -> translation, with unfinished entries left out.
QHash<Key, QString> finishedTranslations(const QString &path)
{
    QHash<Key, QString> result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    QXmlStreamReader xml(&file);
    QString context;
    QString source;
    while (!xml.atEnd()) {
        if (!xml.readNextStartElement())
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("source")) {
            source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            const bool unfinished =
                xml.attributes().value(QLatin1String("type")) == QLatin1String("unfinished");
            const QString text = xml.readElementText();
            if (!unfinished && !text.isEmpty())
                result.insert({context, source}, text);
        }
    }
    return result;
}

} // namespace

class tst_Translations : public QObject
{
    Q_OBJECT

private slots:
    void everyTextTranslated_data();
    void everyTextTranslated();
    void catalogs_data();
    void catalogs();
    void englishRewordings_data();
    void englishRewordings();
};

void tst_Translations::everyTextTranslated_data()
{
    QTest::addColumn<QString>("code");
    for (const char *code : {"en_EN", "zh_CN", "ja_JP", "ru_RU", "fr_FR"})
        QTest::newRow(code) << QString::fromLatin1(code);
}

// A text the code looks up but a catalog lacks would show in English in that language.
void tst_Translations::everyTextTranslated()
{
    QFETCH(QString, code);
    const QSet<Key> texts = textsTheCodeTranslates();
    QVERIFY(texts.size() >= 48);
    const auto catalog =
        finishedTranslations(QStringLiteral(HALVERN_SOURCE_DIR) +
                             QStringLiteral("/resources/translations/HalvernFirmwareTool_") + code +
                             QStringLiteral(".ts"));
    QStringList missing;
    for (const Key &text : texts) {
        if (!catalog.contains(text))
            missing.append(text.first + QStringLiteral(": ") + text.second);
    }
    missing.sort();
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char('\n'))));
}

void tst_Translations::catalogs_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("updateFirmware");
    for (const auto &[code, text] : {std::pair{"en_EN", "Update Firmware"},
                                     {"zh_CN", "更新固件"},
                                     {"ja_JP", "ファームウェアを更新"},
                                     {"ru_RU", "Обновить прошивку"},
                                     {"fr_FR", "Mettre à jour le firmware"}})
        QTest::newRow(code) << QString(code) << QString::fromUtf8(text);
}

void tst_Translations::catalogs()
{
    QFETCH(QString, code);
    QFETCH(QString, updateFirmware);
    QTranslator translator;
    QVERIFY(translator.load(":/translations/HalvernFirmwareTool_" + code + ".qm"));
    QCOMPARE(translator.translate("MainWindow", "Update Firmware"), updateFirmware);
    QCOMPARE(translator.translate("MessageDialog", "Update Firmware"), updateFirmware);
    // The same everywhere: language names in their own script, the file filter untouched.
    QCOMPARE(translator.translate("MainWindow", "Russian"), QString::fromUtf8("русский"));
    QCOMPARE(translator.translate("MainWindow", "French"), QString::fromUtf8("Français"));
    QCOMPARE(translator.translate("MainWindow", "Firmware Files (*.bin *.hfw)"),
             QString("Firmware Files (*.bin *.hfw)"));
    QCOMPARE(translator.translate("SettingsDialog", "UNDEFINE"), QString("[TBD]"));
    QVERIFY(
        !translator.translate("QObject", "HalVern Firmware Tool is already running!").isEmpty());
}

void tst_Translations::englishRewordings_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("shown");
    QTest::newRow("warning") << "MainWindow"
                             << "Waring"
                             << "Warning";
    QTest::newRow("first run")
        << "MainWindow"
        << "When you first install HalVern Firmware Tool must connect network, and "
           "restart HalVern Firmware Tool."
        << "fail to connect to cloud servers";
    QTest::newRow("erase") << "MainWindow"
                           << "Erase flash failure!"
                           << "flash erase error!";
    QTest::newRow("running") << "QObject"
                             << "HalVern Firmware Tool is already running!"
                             << "HalVern Firmware Tool is running!";
    QTest::newRow("boot mode") << "SettingsDialog"
                               << "Boot Mode(No Controller):"
                               << "Boot Mode(No Controller)";
}

void tst_Translations::englishRewordings()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, shown);
    QTranslator translator;
    QVERIFY(translator.load(":/translations/HalvernFirmwareTool_en_EN.qm"));
    QCOMPARE(translator.translate(context.toLatin1(), source.toUtf8()), shown);
}

QTEST_GUILESS_MAIN(tst_Translations)
#include "tst_translations.moc"
