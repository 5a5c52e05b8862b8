// The progress window of a batch run: bar, percentage, preview frame and Cancel. It lives on
// the window thread and shows what the run reports; the run goes on beside it.
#pragma once

#include "ui_progress_dialog.h"

#include <QDialog>
#include <QPointer>

#include <cstdint>
#include <string>
#include <vector>

class CBatchRun;

class CProgressDialog : public QDialog {
    Q_OBJECT

public:
    // A caption string number of 0 means "Processing".
    explicit CProgressDialog(uint32_t captionId = 0);
    ~CProgressDialog() override;

    // Shows the window and disables the window that owns `parent` while it exists.
    bool Create(QWidget* parent);
    // Enables the owner again and takes the window down.
    void Close();

    // Shows what `run` reports as it goes, and asks it to stop on Cancel.
    void Follow(CBatchRun& run);

    // The line under the bar as it stands, before eliding.
    QString FileLine() const { return m_fileLine; }

    void SetRange(uint32_t lower, uint32_t upper);
    void SetPos(uint32_t position);
    // Names the file begun last under the bar, with the position.
    void ShowCurrentFile(const std::string& path);
    void ShowPreview(const std::string& path);
    bool CheckCancelButton();

    // What Cancel does, the button, Esc and the close box alike: the run is asked to stop,
    // and the window says so at once.
    void RequestCancel();

signals:
    void cancelRequested();

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ShowFileLine(const QString& line);

    Ui::CProgressDialog m_ui;
    uint32_t m_captionId;
    int64_t m_lower = 0;
    int64_t m_upper = 100;
    uint32_t m_position = 0;
    bool m_cancelled = false;
    bool m_stopping = false;
    bool m_ownerDisabled = false;
    bool m_created = false;
    QPointer<QWidget> m_owner;
    QString m_fileLine;
};
