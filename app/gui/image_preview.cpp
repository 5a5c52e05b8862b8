// The preview frame paints the picture the toolkit-free frame keeps, also when uncovered.
#include "gui/image_preview.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

CImagePreview::CImagePreview(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_frame.Resize(width(), height());
}

void CImagePreview::ShowPreview(const std::string& path)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (m_frame.ClientWidth() != width() || m_frame.ClientHeight() != height())
        m_frame.Resize(width(), height());
    m_frame.ShowPreview(path);
    repaint();  // painted at once, not at the next idle moment
    QApplication::restoreOverrideCursor();
}

void CImagePreview::paintEvent(QPaintEvent*)
{
    if (m_frame.Pixels().empty())
        return;
    // The frame's pixels are blue, green, red, 255 bytes: Qt's RGB32 on this platform.
    const QImage image(reinterpret_cast<const uchar*>(m_frame.Pixels().data()), m_frame.ClientWidth(),
                       m_frame.ClientHeight(), m_frame.ClientWidth() * 4, QImage::Format_RGB32);
    QPainter painter(this);
    painter.drawImage(0, 0, image);
}

void CImagePreview::resizeEvent(QResizeEvent*)
{
    m_frame.Resize(width(), height());
}
