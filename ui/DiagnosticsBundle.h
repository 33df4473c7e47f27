#pragma once

#include "device/Transcript.h"

#include <QByteArray>
#include <QList>
#include <QMetaEnum>
#include <QPair>
#include <QString>

// One plain text file a user can send when something went wrong: what the tool is and runs on,
// the adapter as the tool read it, the catalog, this run's log and the frames of the last
// exchanges with the adapter. A maintainer reads it in any editor; a test replays its frames.
namespace DiagnosticsBundle {

struct Facts
{
    QString toolVersion;
    QString platform;
    QList<QPair<QString, QString>> adapter; // name, value, in the order shown
    QList<QPair<QString, QString>> catalog;
    QString log;
    QList<Transcript::Record> exchanges;
};

// The name a bundle gives a value of one of the device's enums; the number when it has none.
template<typename Enum>
QString key(Enum value)
{
    const char *name = QMetaEnum::fromType<Enum>().valueToKey(int(value));
    return name ? QString::fromLatin1(name) : QString::number(int(value));
}

QByteArray compose(const Facts &facts);
// The exchanges a bundle holds, as compose wrote them.
QList<Transcript::Record> exchangesOf(const QByteArray &bundle);

} // namespace DiagnosticsBundle
