// The main dialog.
#include "gui/main_dialog.h"

#include "core/batch.h"
#include "core/folders.h"
#include "core/numbers.h"
#include "core/run_report.h"
#include "gui/about_dialog.h"
#include "gui/batch_run.h"
#include "gui/controls.h"
#include "gui/folder_browser.h"
#include "gui/progress_dialog.h"
#include "gui/run_summary.h"
#include "gui/texts.h"
#include "res/strings.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLocale>
#include <QMimeData>
#include <QUrl>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QStyle>

#include <algorithm>
#include <functional>

CMainDialog::CMainDialog(quillet::SettingsStore& store, QWidget* parent) : QDialog(parent), m_store(store)
{
    quillet::gui::InitResources();
    quillet::LoadSettings(m_store, m_settings);
    m_ui.setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    int value = 0;
    for (QAbstractButton* button : {m_ui.perfectFitRadio, m_ui.fitOutsideRadio, m_ui.fitInsideRadio})
        m_typeGroup.addButton(button, value++);
    value = 0;
    for (QAbstractButton* button :
         {m_ui.reverseBoxRadio, m_ui.fitInsideAllRadio, m_ui.cropLandscapeRadio, m_ui.rulesOnlyRadio})
        m_portraitGroup.addButton(button, value++);

    connect(m_ui.browseInButton, &QPushButton::clicked, this, [this] { BrowseFolder(quillet::Folder::In); });
    connect(m_ui.browseOutButton, &QPushButton::clicked, this, [this] { BrowseFolder(quillet::Folder::Out); });
    connect(m_ui.startButton, &QPushButton::clicked, this, &CMainDialog::OnStart);
    connect(m_ui.exitButton, &QPushButton::clicked, this, &CMainDialog::accept);
    connect(m_ui.aboutButton, &QPushButton::clicked, this, [this] { SysCommand(quillet::res::kAboutCommand); });
    // A folder, or a file standing for its folder, may be dropped on either path field, or
    // anywhere else on the window for the source.
    setAcceptDrops(true);
    for (QLineEdit* edit : {m_ui.pathInEdit, m_ui.pathOutEdit})
        edit->installEventFilter(this);
    connect(m_ui.subDirsCheck, &QCheckBox::clicked, this, &CMainDialog::OnSubDirs);
    // The file count follows the switch, as it follows the sub-folder one.
    connect(m_ui.allTypesCheck, &QCheckBox::clicked, this, &CMainDialog::OnSubDirs);

    // What a switch does not do in the present state shows as disabled.
    connect(&m_portraitGroup, &QButtonGroup::idToggled, this, &CMainDialog::ShowWhatApplies);
    connect(m_ui.copyExifCheck, &QCheckBox::toggled, this, &CMainDialog::ShowWhatApplies);
    connect(m_ui.formatCombo, &QComboBox::currentIndexChanged, this, &CMainDialog::ShowWhatApplies);
    // The quality field shows the quality the thumbnails get.
    connect(m_ui.qualityEdit, &QLineEdit::editingFinished, this, [this] {
        if (const auto typed = quillet::ParseUnsigned(m_ui.qualityEdit->text().toStdString()))
            m_ui.qualityEdit->setText(QString::number(quillet::UsedQuality(*typed)));
    });

    // The read-only fields look it, and show their whole text when it does not fit.
    for (QLineEdit* edit : {m_ui.pathInEdit, m_ui.fileCountEdit, m_ui.pathOutEdit}) {
        QPalette readOnly = edit->palette();
        readOnly.setColor(QPalette::Base, readOnly.color(QPalette::Window));
        edit->setPalette(readOnly);
    }
    for (QLineEdit* edit : {m_ui.pathInEdit, m_ui.pathOutEdit})
        connect(edit, &QLineEdit::textChanged, edit, &QLineEdit::setToolTip);

    UpdateData(false);
    ShowWhatApplies();
    m_ui.linkLabel->Attach();
    m_ui.linkLabel->SetURL(QString::fromLatin1(quillet::res::kMakerAddress));
    RescanSource();
    // No button is ever the default: the first one focused would otherwise stay so for good, and
    // Enter in a number field would press it. Enter presses a focused button (keyPressEvent).
    for (QPushButton* button : findChildren<QPushButton*>())
        button->setAutoDefault(false);
    // Not on "Exit", where a stray Space would quit; the path fields cannot be typed into.
    m_ui.browseInButton->setFocus();
}

CMainDialog::~CMainDialog()
{
    quillet::SaveSettings(m_store, m_settings);
}

bool CMainDialog::UpdateData(bool fromControls)
{
    auto check = [&](QCheckBox* box, uint32_t& field) {
        if (fromControls)
            field = box->isChecked() ? 1 : 0;
        else
            box->setChecked(field != 0);
    };
    auto number = [&](QLineEdit* edit, uint32_t& field) {
        if (!fromControls) {
            edit->setText(QString::number(field));
            return true;
        }
        const std::optional<uint32_t> parsed = quillet::ParseUnsigned(edit->text().toStdString());
        if (!parsed) {
            quillet::gui::ShowMessage(this, QMessageBox::Warning, quillet::gui::Text(quillet::res::kBadNumber));
            edit->setFocus();
            edit->selectAll();
            return false;
        }
        field = *parsed;
        return true;
    };
    auto text = [&](QLineEdit* edit, std::string& field) {
        if (fromControls)
            field = edit->text().toStdString();
        else
            edit->setText(QString::fromStdString(field));
    };
    auto radio = [&](QButtonGroup& group, int32_t& field) {
        if (fromControls) {
            field = group.checkedId();
            return;
        }
        if (QAbstractButton* button = group.button(field)) {
            button->setChecked(true);
            return;
        }
        // A stored value with no button: none is checked.
        group.setExclusive(false);
        for (QAbstractButton* button : group.buttons())
            button->setChecked(false);
        group.setExclusive(true);
    };

    check(m_ui.samplingCheck, m_settings.Sampling);
    check(m_ui.copyExifCheck, m_settings.CopyExif);
    if (!number(m_ui.widthEdit, m_settings.Width) || !number(m_ui.heightEdit, m_settings.Height))
        return false;
    check(m_ui.sharpenCheck, m_settings.Sharpen);
    text(m_ui.pathInEdit, m_settings.PathIn);
    text(m_ui.pathOutEdit, m_settings.PathOut);
    radio(m_typeGroup, m_settings.Type);
    radio(m_portraitGroup, m_settings.Portrait);
    if (!number(m_ui.middleEdit, m_settings.Middle) || !number(m_ui.fileCountEdit, m_settings.FileCount))
        return false;
    check(m_ui.autolevCheck, m_settings.Autolev);
    if (fromControls)
        m_settings.ResType = m_ui.methodCombo->currentIndex();
    else
        m_ui.methodCombo->setCurrentIndex(m_settings.ResType >= 0 && m_settings.ResType < m_ui.methodCombo->count()
                                              ? m_settings.ResType
                                              : -1);
    if (!number(m_ui.qualityEdit, m_settings.Quality))
        return false;
    if (fromControls && m_settings.Quality != quillet::UsedQuality(m_settings.Quality)) {
        m_settings.Quality = quillet::UsedQuality(m_settings.Quality);
        m_ui.qualityEdit->setText(QString::number(m_settings.Quality));
    }
    check(m_ui.boostCheck, m_settings.Boost);
    check(m_ui.subDirsCheck, m_settings.SubDirs);
    check(m_ui.fastDecodeCheck, m_settings.FastDecode);
    check(m_ui.exactCheck, m_settings.Exact);
    check(m_ui.onlyNewCheck, m_settings.OnlyNew);
    check(m_ui.keepFoldersCheck, m_settings.KeepFolders);
    check(m_ui.autoRotateCheck, m_settings.AutoRotate);
    check(m_ui.stripGpsCheck, m_settings.StripGPS);
    check(m_ui.allTypesCheck, m_settings.AllTypes);
    // The items stand in OutputFormat's order; anything else reads as JPEG.
    if (fromControls)
        m_settings.Format = static_cast<uint32_t>(std::max(m_ui.formatCombo->currentIndex(), 0));
    else
        m_ui.formatCombo->setCurrentIndex(m_settings.Format <= quillet::FormatAvif ? int(m_settings.Format) : 0);
    return true;
}

bool CMainDialog::RescanSource()
{
    // A bad number is reported before the wait, and its edit keeps what was typed.
    const bool taken = UpdateData(true);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    quillet::RescanSource(m_settings, m_files);
    if (!m_settings.PathIn.empty()) {
        if (taken)
            UpdateData(false);
        else
            m_ui.fileCountEdit->setText(QString::number(m_settings.FileCount));
    }
    QApplication::restoreOverrideCursor();
    return taken;
}

void CMainDialog::BrowseFolder(quillet::Folder which)
{
    // A bad number is reported once, and nothing else happens until it is mended.
    if (!UpdateData(true))
        return;
    const bool source = which == quillet::Folder::In;
    std::string initial = m_store.ReadString(quillet::kSettingsSection, source ? "PathIn" : "PathOut").value_or("");
    // A destination not chosen yet is looked for beside the source.
    if (!source && initial.empty() && !m_settings.PathIn.empty())
        initial = QFileInfo(QDir::cleanPath(QString::fromStdString(m_settings.PathIn))).path().toStdString();
    CFolderBrowser browser(source ? tr("Select Source") : tr("Select Destination"), QStringLiteral("title"),
                           QString::fromStdString(initial), this);
    if (source)
        browser.ForbidCreating();
    if (browser.Run() != 1)
        return;
    quillet::StoreFolder(m_store, m_settings, which, browser.Folder());
    UpdateData(false);
    if (source)
        RescanSource();
}

void CMainDialog::OnSubDirs()
{
    if (UpdateData(true))
        RescanSource();
}

void CMainDialog::OnStart()
{
    if (m_run != nullptr)
        return;
    // A run never starts on settings that were only half read.
    if (!RescanSource())
        return;
    const quillet::Refusal refusal = quillet::CheckRun(m_settings, m_files);
    if (refusal != quillet::Refusal::None) {
        QString text = quillet::gui::Text(quillet::RefusalText(refusal));
        if (refusal == quillet::Refusal::NoFiles) {
            if (const std::string others = quillet::OtherPicturesText(m_settings, quillet::gui::TranslateReport);
                !others.empty())
                text += tr(": the folder holds %1. Tick \"All picture types\" to take them.")
                            .arg(QString::fromStdString(others));
        }
        quillet::gui::ShowMessage(this, QMessageBox::NoIcon, text);
        return;
    }
    // A destination that cannot be written would make a run that looks fine and writes nothing.
    if (const std::string why = quillet::ProbeWritable(m_settings.PathOut); !why.empty()) {
        quillet::gui::ShowMessage(this, QMessageBox::Warning,
                                  quillet::gui::NotWritable(m_settings.PathOut, why));
        return;
    }
    // Disabling the dialog takes the focus away; it goes back where it was after the run.
    QPointer<QWidget> focus = focusWidget();
    CProgressDialog progress;
    if (!progress.Create(this))
        return;
    // The files are made beside the window, which goes on answering until the run has ended.
    CBatchRun run(m_settings, m_files, quillet::JobCount(m_settings.Jobs));
    progress.Follow(run);
    QEventLoop waiting;
    connect(&run, &CBatchRun::finished, &waiting, &QEventLoop::quit);
    m_run = &progress;
    QElapsedTimer clock;
    clock.start();
    run.Start();
    waiting.exec();
    // A loop left early (the application quitting) still waits for the files in flight.
    run.RequestStop();
    run.Wait();
    m_run = nullptr;
    progress.Close();
    if (focus)
        focus->setFocus();
    if (m_closeAfterRun) {
        QDialog::reject();
        return;
    }
    const quillet::BatchResult& result = run.Result();
    const bool troubled =
        !result.skipped.empty() || !result.kept.empty() || result.incomplete > 0 || result.destinationLost;
    const std::string text = quillet::RunEndText(result, static_cast<uint32_t>(m_files.size()),
                                                 double(clock.elapsed()) / 1000, quillet::gui::TranslateReport,
                                                 QLocale().decimalPoint().at(0).toLatin1());
    const std::string details =
        quillet::RunDetailsText(result, m_settings.PathIn, run.IncompleteSources(), quillet::gui::TranslateReport);
    quillet::gui::ShowRunSummary(this, troubled ? QMessageBox::Warning : QMessageBox::Information,
                                 QString::fromStdString(text), QString::fromStdString(details),
                                 QString::fromStdString(m_settings.PathOut));
}

bool CMainDialog::focusNextPrevChild(bool next)
{
    // Tab enters a radio group on its checked button and leaves the group with the next
    // press; the arrow keys move within it.
    auto skipped = [this](QWidget* widget) {
        for (QButtonGroup* group : {&m_typeGroup, &m_portraitGroup}) {
            auto* button = qobject_cast<QAbstractButton*>(widget);
            if (button != nullptr && group->buttons().contains(button))
                return group->checkedButton() != nullptr && !button->isChecked();
        }
        return false;
    };
    QWidget* current = focusWidget();
    if (current == nullptr)
        return QDialog::focusNextPrevChild(next);
    QWidget* candidate = current;
    for (;;) {
        candidate = next ? candidate->nextInFocusChain() : candidate->previousInFocusChain();
        if (candidate == current)
            return QDialog::focusNextPrevChild(next);
        const bool takesTab =
            (candidate->focusPolicy() & Qt::TabFocus) != 0 && candidate->isEnabled() && candidate->isVisibleTo(this);
        if (!takesTab || skipped(candidate))
            continue;
        candidate->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        // On a small screen the content scrolls to what the keyboard reached.
        m_ui.scrollArea->ensureWidgetVisible(candidate);
        return true;
    }
}

void CMainDialog::accept()
{
    if (m_run != nullptr)
        return;
    if (UpdateData(true))
        QDialog::accept();
}

void CMainDialog::reject()
{
    if (m_run != nullptr) {
        // Closing during a run stops the run first; the dialog closes when it has ended.
        m_run->RequestCancel();
        m_closeAfterRun = true;
        return;
    }
    QDialog::reject();
}

namespace {

// The folder a drag carries: the first local path, a file standing for its folder; empty when
// there is none.
QString DroppedFolder(const QMimeData* data)
{
    if (data == nullptr)
        return {};
    for (const QUrl& url : data->urls()) {
        const QFileInfo info(url.toLocalFile());
        if (!url.isLocalFile() || !info.exists())
            continue;
        return QDir::cleanPath(info.isDir() ? info.absoluteFilePath() : info.absolutePath());
    }
    return {};
}

}  // namespace

bool CMainDialog::eventFilter(QObject* watched, QEvent* event)
{
    const bool source = watched == m_ui.pathInEdit;
    if (!source && watched != m_ui.pathOutEdit)
        return QDialog::eventFilter(watched, event);
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (m_run == nullptr && !DroppedFolder(drag->mimeData()).isEmpty())
            drag->acceptProposedAction();
        else
            drag->ignore();
        return true;
    }
    if (event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        TakeDroppedFolder(source ? quillet::Folder::In : quillet::Folder::Out, DroppedFolder(drop->mimeData()));
        drop->acceptProposedAction();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CMainDialog::dragEnterEvent(QDragEnterEvent* event)
{
    if (m_run == nullptr && !DroppedFolder(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void CMainDialog::dropEvent(QDropEvent* event)
{
    TakeDroppedFolder(quillet::Folder::In, DroppedFolder(event->mimeData()));
    event->acceptProposedAction();
}

void CMainDialog::TakeDroppedFolder(quillet::Folder which, const QString& folder)
{
    // As a folder picked in the browser, without a question: it exists.
    if (m_run != nullptr || folder.isEmpty() || !UpdateData(true))
        return;
    quillet::StoreFolder(m_store, m_settings, which, folder.toStdString());
    UpdateData(false);
    if (which == quillet::Folder::In)
        RescanSource();
}

void CMainDialog::ShowWhatApplies()
{
    // "Fit inside W & H regardless other rules" sizes every picture by itself.
    const bool rulesApply = m_portraitGroup.checkedButton() != m_ui.fitInsideAllRadio;
    for (QAbstractButton* button : m_typeGroup.buttons())
        button->setEnabled(rulesApply);
    m_ui.rulesNote->setVisible(!rulesApply);
    m_ui.stripGpsCheck->setEnabled(m_ui.copyExifCheck->isChecked());
    switch (m_ui.formatCombo->currentIndex()) {
    case quillet::FormatWebp: m_ui.qualityLabel->setText(tr("WebP Quality:")); break;
    case quillet::FormatAvif: m_ui.qualityLabel->setText(tr("AVIF Quality:")); break;
    default: m_ui.qualityLabel->setText(tr("JPG Quality:")); break;
    }
}

void CMainDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button != nullptr && event->modifiers() == 0)
            button->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CMainDialog::showEvent(QShowEvent* event)
{
    // Switches may be put into the group from the layout or from code; both are seen here.
    ArrangeExtraOptions();
    if (!m_sized) {
        // The whole content when the screen has room; else as much as fits, and the rest scrolls.
        m_sized = true;
        // Every control polished first: the style's fonts and margins make the size.
        for (QWidget* widget : m_ui.content->findChildren<QWidget*>())
            widget->ensurePolished();
        m_ui.content->layout()->invalidate();
        m_ui.content->layout()->activate();
        const QSize natural = m_ui.content->sizeHint();
        QSize room = natural;
        if (const QScreen* shown = screen()) {
            // Before the window is mapped its frame is not known; the title bar is allowed for.
            QSize frame = frameGeometry().size() - geometry().size();
            if (frame.isEmpty())
                frame = QSize(8, style()->pixelMetric(QStyle::PM_TitleBarHeight) + 8);
            room = shown->availableGeometry().size() - frame;
        }
        QSize fitted = natural.boundedTo(room);
        // A scroll bar in one direction takes room from the other.
        const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        if (fitted.height() < natural.height())
            fitted.setWidth(std::min(fitted.width() + bar, room.width()));
        if (fitted.width() < natural.width())
            fitted.setHeight(std::min(fitted.height() + bar, room.height()));
        resize(fitted);
    }
    QDialog::showEvent(event);
}

void CMainDialog::ArrangeExtraOptions()
{
    std::vector<QWidget*> switches;
    std::function<void(QLayout*)> collect = [&](QLayout* layout) {
        for (int i = 0; i < layout->count(); ++i) {
            QLayoutItem* item = layout->itemAt(i);
            if (QWidget* widget = item->widget())
                switches.push_back(widget);
            else if (item->layout() != nullptr)
                collect(item->layout());
        }
    };
    collect(m_ui.extraOptionsLayout);
    // An empty group would only be clutter.
    m_ui.extraOptions->setVisible(!switches.empty());
    QWidget* previous = m_ui.linkLabel;
    for (QWidget* widget : switches) {
        if ((widget->focusPolicy() & Qt::TabFocus) == 0)
            continue;
        setTabOrder(previous, widget);
        previous = widget;
    }
}

void CMainDialog::SysCommand(uint32_t command)
{
    if ((command & 0xFFF0u) == quillet::res::kAboutCommand) {
        CAboutDialog about(this);
        about.exec();
    }
}

void CMainDialog::contextMenuEvent(QContextMenuEvent* event)
{
    // There is no window menu to extend here; the dialog's own context menu carries About.
    const QString item = quillet::gui::Text(quillet::res::LoadString(quillet::res::kIdsAboutItem));
    if (item.isEmpty())
        return QDialog::contextMenuEvent(event);
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("windowMenu"));
    menu.addAction(item)->setData(quillet::res::kAboutCommand);
    if (QAction* chosen = menu.exec(event->globalPos()))
        SysCommand(chosen->data().toUInt());
}
