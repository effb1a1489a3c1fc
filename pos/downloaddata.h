#pragma once

#include <QWidget>

#include "v7k.h"

// Page of the content area; its controls arrive with the feature that fills it.
class DownloadData : public QWidget
{
    Q_OBJECT
public:
    static DownloadData *instance();
    explicit DownloadData(QWidget *parent = nullptr);
    void refreshModeButtons() {}
    void refreshTable() {}
    // Shows or hides the widgets of the five-lens record layout (52-byte records).
    void setFiveLensLayout(bool fiveLens) { m_fiveLens = fiveLens; }
    bool fiveLensLayout() const { return m_fiveLens; }

    // The WiFi transfer manager of the connected camera; null while not connected.
    PosFileManager *manager() const;
    // Empties the record table, the status text and the progress bar (link down).
    void clearRecords() {}

private:
    bool m_fiveLens = false;
};
