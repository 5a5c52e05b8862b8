// A label that acts as a web link: colours by state, tooltip, hand cursor, keyboard.
#pragma once

#include "core/link.h"

#include <QLabel>
#include <QTimer>

#include <cstdint>
#include <string>
#include <vector>

class CHyperLink : public QLabel {
    Q_OBJECT

public:
    explicit CHyperLink(QWidget* parent = nullptr);

    // Takes the label over as the dialog first fills its controls: the text and the address
    // stand in for each other when one is empty; then font, size, cursor and tooltip.
    void Attach();
    void SetURL(const QString& address);
    const QString& URL() const { return m_address; }
    void SetLinkStyle(uint32_t style) { m_style = style; }
    uint32_t LinkStyle() const { return m_style; }

    bool IsVisited() const { return m_visited; }
    bool IsActive() const { return m_active; }
    bool IsOver() const { return m_over; }
    QColor TextColour() const;

    // Opens the address with the desktop's opener, else with the default handler for web
    // pages. The outcome comes when the started program ends, or once it has kept running a
    // while, as a browser started in the foreground does: the link turns visited, or a beep
    // and a message say that no browser could be started.
    void FollowLink();
    // An opener was started and its outcome is not known yet.
    bool IsOpening() const { return m_pid > 0 && !m_settled; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Repaint();
    void FitToText();
    void StartNextOpener();
    void WatchOpener();

    QString m_address;
    uint32_t m_style = quillet::kLinkDefaultStyle;
    bool m_active = false;
    bool m_over = false;
    bool m_visited = false;
    bool m_attached = false;

    std::vector<std::vector<std::string>> m_openers;  // what is left to try, in order
    size_t m_nextOpener = 0;
    long m_pid = -1;
    bool m_settled = false;
    int m_polls = 0;
    QTimer m_watch;
};
