// The progress window of a batch run.
#include "gui/progress_dialog.h"

#include "core/numbers.h"
#include "gui/batch_run.h"
#include "core/run_report.h"
#include "gui/texts.h"
#include "res/strings.h"

#include <QCloseEvent>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <climits>

namespace {

int ToBarValue(int64_t value)
{
    return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
}

}  // namespace

CProgressDialog::CProgressDialog(uint32_t captionId)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_captionId(captionId == 0 ? quillet::res::kIdsProcessing : captionId)
{
}

CProgressDialog::~CProgressDialog()
{
    if (m_created)
        Close();
}

bool CProgressDialog::Create(QWidget* parent)
{
    m_owner = parent != nullptr ? parent->window() : nullptr;
    if (m_owner && m_owner->isEnabled()) {
        m_owner->setEnabled(false);
        m_ownerDisabled = true;
    }

    // No parent widget: a disabled parent would disable this window with it. Being
    // application modal lets it take input while the main dialog runs its own modal loop.
    m_ui.setupUi(this);
    setWindowModality(Qt::ApplicationModal);
    setWindowTitle(quillet::gui::Text(quillet::res::LoadString(m_captionId)));
    m_ui.progressBar->setRange(ToBarValue(m_lower), ToBarValue(m_upper));
    m_ui.progressBar->setValue(ToBarValue(m_lower));
    connect(m_ui.cancelButton, &QPushButton::clicked, this, &CProgressDialog::RequestCancel);

    adjustSize();
    if (m_owner) {
        winId();
        windowHandle()->setTransientParent(m_owner->windowHandle());
        move(m_owner->geometry().center() - rect().center());
    }
    show();
    m_created = true;
    return true;
}

void CProgressDialog::Close()
{
    if (m_ownerDisabled && m_owner) {
        m_owner->setEnabled(true);
        m_owner->activateWindow();
    }
    m_ownerDisabled = false;
    m_created = false;
    hide();
}

void CProgressDialog::SetRange(uint32_t lower, uint32_t upper)
{
    m_lower = lower;
    m_upper = upper;
    if (m_created)
        m_ui.progressBar->setRange(ToBarValue(m_lower), ToBarValue(m_upper));
}

void CProgressDialog::Follow(CBatchRun& run)
{
    connect(this, &CProgressDialog::cancelRequested, &run, [&run] { run.RequestStop(); });
    connect(&run, &CBatchRun::changed, this, [this, &run] {
        const CBatchRun::Snapshot seen = run.Take();
        if (seen.lower != m_lower || seen.upper != m_upper)
            SetRange(seen.lower, seen.upper);
        SetPos(seen.position);
        if (!seen.current.empty())
            ShowCurrentFile(seen.current);
        if (!seen.preview.empty())
            ShowPreview(seen.preview);
    });
}

void CProgressDialog::SetPos(uint32_t position)
{
    m_position = position;
    m_ui.progressBar->setValue(ToBarValue(position));
    const QString text = QString::fromStdString(quillet::PercentText(position, m_lower, m_upper));
    if (m_ui.percentLabel->text() != text)
        m_ui.percentLabel->setText(text);
}

void CProgressDialog::ShowCurrentFile(const std::string& path)
{
    if (m_position < m_upper - m_lower)
        ShowFileLine(quillet::gui::FileLine(m_position, static_cast<uint32_t>(m_upper - m_lower), path));
}

void CProgressDialog::ShowFileLine(const QString& line)
{
    m_fileLine = line;
    // Once the run was asked to stop, the line says so until the window goes.
    if (m_stopping)
        return;
    // The window keeps its size; a long name gives up its middle, and the whole line is a tooltip.
    m_ui.fileLabel->setText(m_ui.fileLabel->fontMetrics().elidedText(line, Qt::ElideMiddle, m_ui.fileLabel->width()));
    m_ui.fileLabel->setToolTip(line);
}

void CProgressDialog::ShowPreview(const std::string& path)
{
    m_ui.previewFrame->ShowPreview(path);
}

bool CProgressDialog::CheckCancelButton()
{
    const bool cancelled = m_cancelled;
    m_cancelled = false;
    return cancelled;
}

void CProgressDialog::RequestCancel()
{
    m_cancelled = true;
    if (!m_stopping) {
        m_stopping = true;
        m_ui.fileLabel->setText(quillet::gui::Text(quillet::res::kCancelling));
        m_ui.fileLabel->setToolTip(QString());
        m_ui.fileLabel->repaint();
    }
    emit cancelRequested();
}

void CProgressDialog::reject()
{
    RequestCancel();
}

void CProgressDialog::closeEvent(QCloseEvent* event)
{
    RequestCancel();
    event->ignore();
}
