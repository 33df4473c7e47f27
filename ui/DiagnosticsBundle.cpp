#include "ui/DiagnosticsBundle.h"

namespace DiagnosticsBundle {

namespace {

const QString kExchanges = QStringLiteral("\n== exchanges with the adapter");

QString section(const QString &title, const QList<QPair<QString, QString>> &values)
{
    QString text = QStringLiteral("\n== %1\n").arg(title);
    for (const auto &[name, value] : values)
        text += QStringLiteral("%1: %2\n").arg(name, value);
    return text;
}

} // namespace

QByteArray compose(const Facts &facts)
{
    QString text = QStringLiteral("HalVern M7 Firmware Tool diagnostics\n");
    text += section(QStringLiteral("tool"), {{QStringLiteral("version"), facts.toolVersion},
                                             {QStringLiteral("platform"), facts.platform}});
    text += section(QStringLiteral("adapter"), facts.adapter);
    text += section(QStringLiteral("catalog"), facts.catalog);
    text += QStringLiteral("\n== log of this run\n") + facts.log;
    if (!facts.log.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    text += kExchanges + QStringLiteral(" (time in ms since each began; > sent, < received, - "
                                        "stale report dropped, ! no reply)\n");
    for (const Transcript::Record &record : facts.exchanges)
        text += Transcript::format(record);
    return text.toUtf8();
}

QList<Transcript::Record> exchangesOf(const QByteArray &bundle)
{
    // Only behind the log: a line of the log can never pass for a frame.
    const QString text = QString::fromUtf8(bundle);
    const qsizetype start = text.lastIndexOf(kExchanges);
    return start < 0 ? QList<Transcript::Record>()
                     : Transcript::parse(QStringView(text).mid(start));
}

} // namespace DiagnosticsBundle
