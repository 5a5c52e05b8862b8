// The main dialog: the settings in their controls, the folder pickers and START.
#pragma once

#include "core/settings.h"
#include "ui_main_dialog.h"

#include <QButtonGroup>
#include <QDialog>

#include <string>
#include <vector>

class CProgressDialog;

class CMainDialog : public QDialog {
    Q_OBJECT

public:
    // Loads the settings from `store` and fills the controls; writes them back when destroyed.
    explicit CMainDialog(quillet::SettingsStore& store, QWidget* parent = nullptr);
    ~CMainDialog() override;

    const quillet::BatchSettings& Settings() const { return m_settings; }
    const std::vector<std::string>& Files() const { return m_files; }

    // The exchange with the controls, in the settings record's order. Reading them back stops
    // at the first edit without an unsigned number, with a message and the focus in that edit.
    bool UpdateData(bool fromControls);

    // A window menu command; the About command ignores its low four bits.
    void SysCommand(uint32_t command);

    // Rebuilds the file list from the source folder; false when the controls held a bad number.
    bool RescanSource();

public slots:
    // "Exit": keeps what the controls hold. No button is the default, so Enter in a field
    // never ends the program.
    void accept() override;
    // Esc and the close box: leaves without reading the controls.
    void reject() override;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void BrowseFolder(quillet::Folder which);
    void OnStart();
    void OnSubDirs();
    void ArrangeExtraOptions();
    // Disables what the other switches make idle and names the quality by the format.
    void ShowWhatApplies();
    void TakeDroppedFolder(quillet::Folder which, const QString& folder);

    Ui::CMainDialog m_ui;
    quillet::SettingsStore& m_store;
    quillet::BatchSettings m_settings;
    std::vector<std::string> m_files;
    QButtonGroup m_typeGroup;
    QButtonGroup m_portraitGroup;
    CProgressDialog* m_run = nullptr;  // the progress window of the run going on
    bool m_closeAfterRun = false;
    bool m_sized = false;
};
