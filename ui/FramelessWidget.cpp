#include "ui/FramelessWidget.h"

#include <QMouseEvent>

FramelessWidget::FramelessWidget(QWidget *parent)
    : QWidget(parent)
{}

void FramelessWidget::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    dragOffset = event->position().toPoint();
    dragging = true;
}

void FramelessWidget::mouseReleaseEvent(QMouseEvent *event)
{
    Q_UNUSED(event)
    dragging = false;
}

void FramelessWidget::mouseMoveEvent(QMouseEvent *event)
{
    // A second button held with the left one pauses the drag, so only an exact match counts.
    if (!dragging || event->buttons() != Qt::LeftButton)
        return;
    move(event->globalPosition().toPoint() - dragOffset);
}
