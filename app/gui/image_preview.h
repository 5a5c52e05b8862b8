// The progress window's preview frame: shows the thumbnail written last.
#pragma once

#include "core/preview.h"

#include <QWidget>

#include <string>

class CImagePreview : public QWidget {
    Q_OBJECT

public:
    explicit CImagePreview(QWidget* parent = nullptr);

    // Loads the thumbnail at `path`, fits it into the frame and paints it at once.
    void ShowPreview(const std::string& path);
    const quillet::PreviewFrame& Frame() const { return m_frame; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    quillet::PreviewFrame m_frame;
};
