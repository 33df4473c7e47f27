#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// Copies of the adapter's configuration kept on disk before anything erases it: one folder per
// adapter, each copy a backup file bound to that adapter, the newest kKeep of them kept. The
// file names say when and from which firmware a copy was taken, so a person can pick one too.
class SafetyCopies
{
public:
    enum class Kind { ConfigBlock, FullBackup };
    struct Copy
    {
        QString path;
        QDateTime taken;         // local time, from the file name
        QString firmwareVersion; // "5.6.3"
        Kind kind = Kind::FullBackup;
    };

    // root: the folder holding one folder per adapter serial.
    explicit SafetyCopies(QString root);

    // Writes a copy bound to the adapter (serial: the 24 lower-case hexadecimal characters the
    // adapter reports) and then keeps only the newest kKeep copies of that adapter. On failure
    // nothing is deleted and `error` (if given) says why.
    bool save(const QByteArray &serial, Kind kind, const QString &firmwareVersion,
              const QByteArray &bytes, QString *error = nullptr, Copy *saved = nullptr,
              const QDateTime &when = QDateTime::currentDateTime());
    // Newest first; files that are not copies are left out.
    QList<Copy> list(const QByteArray &serial) const;
    // The copy's bytes, unscrambled and checked; empty when it does not check.
    QByteArray load(const Copy &copy, const QByteArray &serial) const;

    static constexpr int kKeep = 5;

private:
    QString m_root;
};
