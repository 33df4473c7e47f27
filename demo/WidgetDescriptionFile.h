#pragma once

#include <QObject>
#include <QString>

class QTimer;
class QWidget;

// Lets a script that drives the demo with real input find what to click: a few times a second
// it rewrites a file with one line per visible named widget of every visible window, dialogs
// included. The main window is frameless and laid out by Qt, so its buttons have no fixed place
// on the screen. Each line holds tab-separated fields:
//
//   window  name  class  x  y  width  height  enabled  text
//
// where window is the object name of the widget's window, or its class name when it has none
// (a window's own line has that name twice), x and y are global, enabled is 0 or 1, and text is the
// widget's text (a window's title), with backslash, tab and newline written as \\, \t and \n.
class WidgetDescriptionFile : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WidgetDescriptionFile)

public:
    static constexpr int kIntervalMs = 100;

    explicit WidgetDescriptionFile(const QString &path, QObject *parent = nullptr);

    // The lines as they would be written now.
    static QString describe();
    // Writes the file now; false when it could not be replaced.
    bool write();

private:
    static QString describeWidget(const QWidget *window, const QWidget *widget);

    QString m_path;
    QString m_written;
    bool m_failing = false;
    QTimer *m_timer = nullptr;
};
