// The folder chooser: Qt's own directory dialog with an editable path and the folder checks.
#pragma once

#include "core/folders.h"

#include <QFileDialog>

#include <string>

class QLineEdit;
class QPushButton;

// Asks and tells through message boxes over `parent`.
class MessageBoxPrompts : public quillet::FolderPrompts {
public:
    // Without `mayCreate` a missing folder is only reported.
    explicit MessageBoxPrompts(QWidget* parent, bool mayCreate = true) : m_parent(parent), m_mayCreate(mayCreate) {}
    bool AskCreate(const std::string& path) override;
    void ShowError(int result, const std::string& path) override;

private:
    QWidget* m_parent;
    bool m_mayCreate;
};

class CFolderBrowser : public QFileDialog {
    Q_OBJECT

public:
    // An empty initial folder selects nothing. The instruction text has no place in this
    // dialog and is kept only for the callers' sake.
    CFolderBrowser(const QString& caption, const QString& instruction, const QString& initialFolder, QWidget* owner);

    // 1 when a usable folder was confirmed, -1 otherwise.
    int Run();
    // For a folder to read from: no new folders, no renaming, and a missing one is refused.
    void ForbidCreating();
    // The confirmed folder, as the path edit held it once "~" and trailing "/" were read.
    const std::string& Folder() const { return m_folder; }

    QLineEdit* PathEdit() const { return m_pathEdit; }
    QPushButton* OkButton() const { return m_okButton; }

public slots:
    // Takes the field as typed, with "~" for the home folder and trailing "/" dropped.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnSelectionChanged(const QString& path);
    void OnPathChanged(const QString& text);

    QString m_instruction;
    QLineEdit* m_pathEdit = nullptr;
    QPushButton* m_okButton = nullptr;
    std::string m_folder;
    bool m_confirmed = false;
    bool m_mayCreate = true;
};
