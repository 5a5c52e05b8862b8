// The web link label.
#include "gui/hyperlink.h"

#include "gui/controls.h"
#include "gui/texts.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QMouseEvent>
#include <QProcess>

namespace {

// Sets the alignment of `widget` in whichever layout under `layout` holds it.
bool AlignInLayout(QLayout* layout, QWidget* widget, Qt::Alignment alignment)
{
    if (layout == nullptr)
        return false;
    if (layout->setAlignment(widget, alignment))
        return true;
    for (int i = 0; i < layout->count(); ++i) {
        if (AlignInLayout(layout->itemAt(i)->layout(), widget, alignment))
            return true;
    }
    return false;
}

// How long a started opener may run before the browser counts as started.
constexpr int kOpenerPatienceMs = 5000;

}  // namespace

CHyperLink::CHyperLink(QWidget* parent) : QLabel(parent)
{
    setFocusPolicy(Qt::TabFocus);
    m_watch.setInterval(50);
    connect(&m_watch, &QTimer::timeout, this, &CHyperLink::WatchOpener);
    Repaint();
}

void CHyperLink::Attach()
{
    if (m_address.isEmpty())
        m_address = text();
    if (text().isEmpty())
        setText(m_address);
    QFont linkFont = font();
    linkFont.setUnderline((m_style & quillet::kLinkUnderline) != 0);
    setFont(linkFont);
    FitToText();
    if ((m_style & quillet::kLinkNoHandCursor) == 0)
        setCursor(Qt::PointingHandCursor);
    setToolTip(m_address);
    m_attached = true;
    Repaint();
}

void CHyperLink::SetURL(const QString& address)
{
    m_address = address;
    if (!m_attached)
        return;
    hide();
    FitToText();
    setToolTip(m_address);
    show();
}

QColor CHyperLink::TextColour() const
{
    const quillet::LinkColour c = quillet::TextColour(m_style, m_active, m_over, m_visited);
    return QColor(c.red, c.green, c.blue);
}

void CHyperLink::Repaint()
{
    QPalette linkPalette = palette();
    linkPalette.setColor(QPalette::WindowText, TextColour());
    setPalette(linkPalette);
    update();
}

void CHyperLink::FitToText()
{
    if ((m_style & quillet::kLinkFitText) == 0)
        return;
    const QSize textSize = fontMetrics().size(Qt::TextSingleLine, text());
    const QMargins margins = contentsMargins();
    const QSize fitted(textSize.width() + margins.left() + margins.right() + 2 * margin(),
                       textSize.height() + margins.top() + margins.bottom() + 2 * margin());
    const Qt::Alignment horizontal = alignment() & Qt::AlignHorizontal_Mask;
    const Qt::Alignment vertical = (alignment() & Qt::AlignVCenter) ? Qt::AlignVCenter : Qt::AlignTop;
    const QRect old = geometry();
    setFixedSize(fitted);
    // In a layout the layout places it, on the side its text is aligned to.
    if (parentWidget() != nullptr && AlignInLayout(parentWidget()->layout(), this, horizontal | vertical))
        return;
    int left = old.left();
    if (horizontal & Qt::AlignHCenter)
        left += (old.width() - fitted.width()) / 2;
    else if (horizontal & Qt::AlignRight)
        left = old.right() + 1 - fitted.width();
    const int top = vertical == Qt::AlignVCenter ? old.top() + (old.height() - fitted.height()) / 2 : old.top();
    move(left, top);
}

void CHyperLink::FollowLink()
{
    if (IsOpening())
        return;
    const std::string address = m_address.toStdString();
    m_openers = {{"xdg-open", address}};
    if (const std::optional<std::string> handler = quillet::HtmlHandlerCommand()) {
        std::vector<std::string> command;
        for (const QString& part :
             QProcess::splitCommand(QString::fromStdString(quillet::HandlerCommandLine(*handler, address))))
            command.push_back(part.toStdString());
        m_openers.push_back(std::move(command));
    }
    m_nextOpener = 0;
    StartNextOpener();
}

void CHyperLink::StartNextOpener()
{
    m_settled = false;
    m_polls = 0;
    while (m_nextOpener < m_openers.size()) {
        m_pid = quillet::StartQuietly(m_openers[m_nextOpener++]);
        if (m_pid > 0) {
            m_watch.start();
            return;
        }
    }
    m_pid = -1;
    QApplication::beep();
    quillet::gui::ShowMessage(window(), QMessageBox::Warning,
                              quillet::gui::NoBrowser(m_address));
}

void CHyperLink::WatchOpener()
{
    switch (quillet::PollOpener(m_pid)) {
    case quillet::OpenerState::Running:
        // xdg-open without a desktop runs the browser itself and stays until it is closed.
        if (!m_settled && ++m_polls * m_watch.interval() >= kOpenerPatienceMs) {
            m_settled = true;
            m_visited = true;
            Repaint();
        }
        return;
    case quillet::OpenerState::Succeeded:
        m_watch.stop();
        m_pid = -1;
        if (!m_settled) {
            m_visited = true;
            Repaint();
        }
        return;
    case quillet::OpenerState::Failed:
        m_watch.stop();
        m_pid = -1;
        if (!m_settled)
            StartNextOpener();
        return;
    }
}

void CHyperLink::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QLabel::mousePressEvent(event);
    if (m_style & quillet::kLinkTakeFocus)
        setFocus(Qt::MouseFocusReason);
    if (m_style & quillet::kLinkOpenOnPress)
        FollowLink();
    m_active = true;
    Repaint();
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QLabel::mouseReleaseEvent(event);
    if (m_active && (m_style & quillet::kLinkOpenOnPress) == 0)
        FollowLink();
}

void CHyperLink::enterEvent(QEnterEvent* event)
{
    m_over = true;
    Repaint();
    QLabel::enterEvent(event);
}

void CHyperLink::leaveEvent(QEvent* event)
{
    m_over = false;
    Repaint();
    QLabel::leaveEvent(event);
}

void CHyperLink::focusInEvent(QFocusEvent* event)
{
    m_active = true;
    Repaint();
    QLabel::focusInEvent(event);
}

void CHyperLink::focusOutEvent(QFocusEvent* event)
{
    m_over = false;
    m_active = false;
    Repaint();
    QLabel::focusOutEvent(event);
}

void CHyperLink::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
        FollowLink();
        return;
    }
    QLabel::keyPressEvent(event);
}
