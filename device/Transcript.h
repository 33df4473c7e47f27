#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

// The frames of one exchange with the adapter as the tool saw them, with their times: what a
// maintainer reads in a diagnostics file, and what a simulated adapter can answer again.
namespace Transcript {

enum class Direction : char {
    Sent = '>',     // a command frame, as written
    Received = '<', // an input report, as read
    Dropped = '-',  // an input report left from an earlier exchange, dropped unread
    NoReply = '!',  // a read that failed or timed out
};

struct Frame
{
    qint64 atUs = 0; // since the exchange began
    Direction direction = Direction::Sent;
    QByteArray bytes;
};

struct Record
{
    QString operation; // "connection", "update", ...
    QList<Frame> frames;
    qint64 omitted = 0; // frames past the bound, not kept
};

// Keeps every record within this many frames: a whole update of the largest firmware fits.
constexpr int kMaxFrames = 40000;

// One section per record: a header line, one line per frame ("12.345 > 00560000..."), an end
// line. parse reads back exactly what format writes and skips everything around it.
QString format(const Record &record);
QList<Record> parse(QStringView text);

// What an adapter answering as the recorded one did needs: each command sent, and the reports
// that followed it up to the next command, each with how long after the command it came (a
// reply that came late must come late again).
struct Answer
{
    QByteArray command;
    QList<QByteArray> reports;
    QList<qint64> delaysUs;
};
QList<Answer> answers(const QList<Record> &records);

} // namespace Transcript
