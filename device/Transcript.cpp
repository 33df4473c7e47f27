#include "device/Transcript.h"

#include <QRegularExpression>

namespace Transcript {

namespace {

const QString kBegin = QStringLiteral("== exchange: ");
const QString kEnd = QStringLiteral("== end of exchange");

} // namespace

QString format(const Record &record)
{
    QString text =
        kBegin + record.operation +
        QStringLiteral(" (%1 frames, %2 omitted)\n").arg(record.frames.size()).arg(record.omitted);
    for (const Frame &frame : record.frames) {
        text += QStringLiteral("%1 %2 %3\n")
                    .arg(double(frame.atUs) / 1000.0, 0, 'f', 3)
                    .arg(QChar::fromLatin1(char(frame.direction)))
                    .arg(QString::fromLatin1(frame.bytes.toHex()));
    }
    return text + kEnd + QLatin1Char('\n');
}

QList<Record> parse(QStringView text)
{
    static const QRegularExpression header(
        QStringLiteral(R"(^== exchange: (.*) \(\d+ frames, (\d+) omitted\)$)"));
    static const QRegularExpression line(QStringLiteral(R"(^(\d+\.\d{3}) ([<>!-]) ?([0-9a-f]*)$)"));
    QList<Record> records;
    Record *open = nullptr;
    for (const QStringView row : text.split(QLatin1Char('\n'))) {
        const QString trimmed = row.trimmed().toString();
        if (!open) {
            const QRegularExpressionMatch match = header.match(trimmed);
            if (match.hasMatch()) {
                records.append(Record{match.captured(1), {}, match.captured(2).toLongLong()});
                open = &records.last();
            }
            continue;
        }
        if (trimmed == kEnd) {
            open = nullptr;
            continue;
        }
        const QRegularExpressionMatch match = line.match(trimmed);
        if (!match.hasMatch())
            continue;
        Frame frame;
        frame.atUs = qint64(match.captured(1).toDouble() * 1000.0 + 0.5);
        frame.direction = Direction(match.captured(2).at(0).toLatin1());
        frame.bytes = QByteArray::fromHex(match.captured(3).toLatin1());
        open->frames.append(frame);
    }
    return records;
}

QList<Answer> answers(const QList<Record> &records)
{
    QList<Answer> result;
    for (const Record &record : records) {
        qint64 sentAt = 0;
        for (const Frame &frame : record.frames) {
            if (frame.direction == Direction::Sent) {
                result.append(Answer{frame.bytes, {}, {}});
                sentAt = frame.atUs;
            } else if (!result.isEmpty() && frame.direction != Direction::NoReply) {
                result.last().reports.append(frame.bytes);
                result.last().delaysUs.append(frame.atUs - sentAt);
            }
        }
    }
    return result;
}

} // namespace Transcript
