#pragma once

#include <QPoint>
#include <QWidget>

class QMouseEvent;

// A window without a system title bar has to be movable by its own body: a left-button drag
// anywhere that no child widget claims the press moves the whole window.
class FramelessWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FramelessWidget)

public:
    explicit FramelessWidget(QWidget *parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    QPoint dragOffset;
    bool dragging = false;
};
