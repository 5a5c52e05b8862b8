// The progress window of a batch run: bar, percentage, preview frame and Cancel.
#pragma once

#include "core/batch.h"
#include "ui_progress_dialog.h"

#include <QDialog>
#include <QPointer>

#include <cstdint>
#include <string>
#include <vector>

class CProgressDialog : public QDialog, public quillet::BatchProgress {
    Q_OBJECT

public:
    // A caption string number of 0 means "Processing".
    explicit CProgressDialog(uint32_t captionId = 0);
    ~CProgressDialog() override;

    // Shows the window and disables the window that owns `parent` while it exists.
    bool Create(QWidget* parent);
    // Enables the owner again and takes the window down.
    void Close();

    // The files of the run, so that each is named under the bar as it is made.
    void SetFiles(const std::vector<std::string>* files) { m_files = files; }
    // The line under the bar as it stands, before eliding.
    QString FileLine() const { return m_fileLine; }

    void SetRange(uint32_t lower, uint32_t upper) override;
    void SetPos(uint32_t position) override;
    void ShowPreview(const std::string& path) override;
    bool CheckCancelButton() override;
    void IncompleteSource(const std::string& path) override { m_incompleteSources.push_back(path); }
    // The sources of this run whose data ended early, in the order they were made.
    const std::vector<std::string>& IncompleteSources() const { return m_incompleteSources; }

    // What Cancel does, the button, Esc and the close box alike.
    void RequestCancel() { m_cancelled = true; }

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void PumpMessages();
    void ShowFileLine(const QString& line);

    Ui::CProgressDialog m_ui;
    uint32_t m_captionId;
    int64_t m_lower = 0;
    int64_t m_upper = 100;
    bool m_cancelled = false;
    bool m_ownerDisabled = false;
    bool m_created = false;
    QPointer<QWidget> m_owner;
    const std::vector<std::string>* m_files = nullptr;
    QString m_fileLine;
    std::vector<std::string> m_incompleteSources;
};
