// The folder chooser.
#include "gui/folder_browser.h"

#include "gui/controls.h"
#include "gui/texts.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>

bool MessageBoxPrompts::AskCreate(const std::string& path)
{
    if (!m_mayCreate) {
        quillet::gui::ShowMessage(m_parent, QMessageBox::Warning,
                                  QCoreApplication::translate("CFolderBrowser", "The folder:\n\n%1\n\ndoes not exist.")
                                      .arg(QString::fromStdString(path)));
        return false;
    }
    const QString text = quillet::gui::CreateQuestion(path);
    return quillet::gui::ShowMessage(m_parent, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

void MessageBoxPrompts::ShowError(int result, const std::string& path)
{
    quillet::gui::ShowMessage(m_parent, QMessageBox::Warning, quillet::gui::FolderError(result, path));
}

CFolderBrowser::CFolderBrowser(const QString& caption, const QString& instruction, const QString& initialFolder,
                               QWidget* owner)
    : QFileDialog(owner, caption), m_instruction(instruction)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setOption(QFileDialog::ShowDirsOnly);
    setFileMode(QFileDialog::Directory);
    setAcceptMode(QFileDialog::AcceptOpen);
    setLabelText(QFileDialog::Accept, tr("OK"));
    setLabelText(QFileDialog::FileName, tr("Folder:"));

    // The dialog's own name field works relative to the shown folder; a full path edit takes
    // its place, and the filter row has nothing to offer for folders.
    auto* grid = qobject_cast<QGridLayout*>(layout());
    QLineEdit* nameEdit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    m_pathEdit = new QLineEdit(this);
    m_pathEdit->setObjectName(QStringLiteral("pathEdit"));
    m_pathEdit->setProperty("id", 14148);
    if (grid != nullptr && nameEdit != nullptr) {
        int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(grid->indexOf(nameEdit), &row, &column, &rowSpan, &columnSpan);
        nameEdit->hide();
        grid->addWidget(m_pathEdit, row, column, rowSpan, columnSpan);
        if (auto* label = findChild<QLabel*>(QStringLiteral("fileNameLabel")))
            label->setBuddy(m_pathEdit);
    } else if (grid != nullptr) {
        grid->addWidget(m_pathEdit, grid->rowCount(), 0, 1, grid->columnCount());
    }
    for (const char* name : {"fileTypeCombo", "fileTypeLabel"}) {
        if (auto* widget = findChild<QWidget*>(QString::fromLatin1(name)))
            widget->hide();
    }
    // Size and type say nothing about folders; without them the date is not cut in the middle.
    if (auto* view = findChild<QTreeView*>(QStringLiteral("treeView"))) {
        view->header()->hideSection(1);
        view->header()->hideSection(2);
        view->header()->setSectionResizeMode(0, QHeaderView::Stretch);
        view->header()->setSectionResizeMode(3, QHeaderView::ResizeToContents);
    }
    if (auto* buttons = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox")))
        m_okButton = buttons->button(QDialogButtonBox::Open);

    connect(this, &QFileDialog::currentChanged, this, &CFolderBrowser::OnSelectionChanged);
    connect(this, &QFileDialog::directoryEntered, this, &CFolderBrowser::OnSelectionChanged);
    connect(m_pathEdit, &QLineEdit::textChanged, this, &CFolderBrowser::OnPathChanged);
    // A folder renamed in the view, a fresh "New Folder" most of all, is followed by the field,
    // so that OK takes the name shown and not the old one.
    if (auto* model = findChild<QFileSystemModel*>()) {
        connect(model, &QFileSystemModel::fileRenamed, this,
                [this](const QString& folder, const QString& oldName, const QString& newName) {
                    if (QDir::cleanPath(m_pathEdit->text()) == QDir(folder).filePath(oldName))
                        m_pathEdit->setText(QDir(folder).filePath(newName));
                });
    }

    if (!initialFolder.isEmpty() && QFileInfo(initialFolder).isDir()) {
        setDirectory(initialFolder);
        m_pathEdit->setText(initialFolder);
    } else {
        setDirectory(QDir::homePath());
        m_pathEdit->clear();
        OnPathChanged(QString());
    }
    m_pathEdit->setFocus();
}

void CFolderBrowser::ForbidCreating()
{
    m_mayCreate = false;
    setOption(QFileDialog::ReadOnly);
}

int CFolderBrowser::Run()
{
    m_confirmed = false;
    exec();
    return m_confirmed ? 1 : -1;
}

void CFolderBrowser::OnSelectionChanged(const QString& path)
{
    // A rename takes the old row out of the view and clears the selection for a moment, and
    // may name the old path; neither may wipe the folder the field shows and OK takes.
    if (path.isEmpty() || !QFileInfo(path).isDir())
        return;
    if (m_okButton != nullptr)
        m_okButton->setEnabled(true);
    m_pathEdit->setText(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
}

void CFolderBrowser::OnPathChanged(const QString& text)
{
    m_folder = text.toStdString();
    if (m_okButton != nullptr)
        m_okButton->setEnabled(!text.isEmpty());
}

void CFolderBrowser::showEvent(QShowEvent* event)
{
    QFileDialog::showEvent(event);
    m_pathEdit->setFocus();
}

void CFolderBrowser::accept()
{
    const std::string typed = m_pathEdit->text().toStdString();
    m_folder = quillet::ExpandTypedFolder(typed, QDir::homePath().toStdString());
    if (m_folder != typed)
        m_pathEdit->setText(QString::fromStdString(m_folder));
    MessageBoxPrompts prompts(this, m_mayCreate);
    if (m_folder.empty() || quillet::CheckFolder(m_folder, prompts) != quillet::kFolderUsable) {
        m_pathEdit->setFocus();
        return;
    }
    m_confirmed = true;
    QDialog::accept();
}
