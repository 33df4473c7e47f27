#include "demo/WidgetDescriptionFile.h"

#include <QApplication>
#include <QDebug>
#include <QSaveFile>
#include <QStringList>
#include <QTimer>
#include <QVariant>
#include <QWidget>

#include <algorithm>

namespace {

QString escaped(QString text)
{
    return text.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('\t'), QLatin1String("\\t"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"));
}

// Buttons, labels, line edits and progress bars have "text"; a combo box shows its current
// entry, a text browser its plain text.
QString widgetText(const QWidget *widget)
{
    if (widget->isWindow())
        return widget->windowTitle();
    for (const char *property : {"text", "currentText", "plainText"}) {
        const QVariant value = widget->property(property);
        if (value.isValid())
            return value.toString();
    }
    return {};
}

// Popups (a combo box's list, a completer's) have no name of their own; their class tells a
// driver that one is open.
QString windowName(const QWidget *window)
{
    return window->objectName().isEmpty() ? QString::fromLatin1(window->metaObject()->className())
                                          : window->objectName();
}

} // namespace

WidgetDescriptionFile::WidgetDescriptionFile(const QString &path, QObject *parent)
    : QObject(parent)
    , m_path(path)
    , m_timer(new QTimer(this))
{
    connect(m_timer, &QTimer::timeout, this, &WidgetDescriptionFile::write);
    m_timer->start(kIntervalMs);
    write();
}

QString WidgetDescriptionFile::describe()
{
    QString lines;
    QWidgetList windows = QApplication::topLevelWidgets();
    // The list comes in no particular order; sorted, an unchanged screen gives unchanged lines.
    std::sort(windows.begin(), windows.end(),
              [](const QWidget *a, const QWidget *b) { return windowName(a) < windowName(b); });
    for (const QWidget *window : windows) {
        if (!window->isVisible())
            continue;
        lines += describeWidget(window, window);
        const QList<QWidget *> children = window->findChildren<QWidget *>();
        for (const QWidget *child : children) {
            // A dialog parented to the window is a window of its own and gets its own lines.
            if (child->window() == window && child->isVisible() && !child->objectName().isEmpty())
                lines += describeWidget(window, child);
        }
    }
    return lines;
}

bool WidgetDescriptionFile::write()
{
    const QString lines = describe();
    if (lines == m_written)
        return true;
    // Replaced whole, so a reader never sees half a description.
    QSaveFile file(m_path);
    const QByteArray bytes = lines.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        file.cancelWriting();
        // Once per failure, not ten times a second.
        if (!m_failing)
            qWarning().noquote() << "demo: widget description not written:" << m_path
                                 << file.errorString();
        m_failing = true;
        return false;
    }
    m_written = lines;
    m_failing = false;
    return true;
}

QString WidgetDescriptionFile::describeWidget(const QWidget *window, const QWidget *widget)
{
    const QPoint topLeft = widget->mapToGlobal(QPoint(0, 0));
    const QStringList fields = {
        windowName(window),
        widget == window ? windowName(window) : widget->objectName(),
        QString::fromLatin1(widget->metaObject()->className()),
        QString::number(topLeft.x()),
        QString::number(topLeft.y()),
        QString::number(widget->width()),
        QString::number(widget->height()),
        widget->isEnabled() ? QStringLiteral("1") : QStringLiteral("0"),
        escaped(widgetText(widget)),
    };
    return fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
}
