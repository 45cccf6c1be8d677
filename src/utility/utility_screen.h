#pragma once

#include <QWidget>

#include <memory>

class ListPanel;
class QFrame;
class QLineEdit;
class QPushButton;
class ReportEngine;

// The utility screen `utility`: the backup, the blank report form, the
// letter-head option, the lists of all reports and of temporary patients'
// reports (from which a privileged login may delete one), and the
// consolidated report of one patient's tests of today.
class UtilityScreen : public QWidget {
    Q_OBJECT
public:
    explicit UtilityScreen(QWidget* parent = nullptr);
    ~UtilityScreen() override;

    void backup();             // backup
    void empty_report();       // Image1
    void header_option();      // Image2
    void all_reports();        // Image3
    void temporary_reports();  // Image4
    void row_clicked(int row); // a click on a row of DataGrid1
    void show_patient_panel(); // Command3
    void build_consolidated(); // Command4
    void exit();               // Command1

    // Tests back up into a folder of their own.
    void set_backup_folder(const QString& folder) { backup_folder_ = folder; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void show_list(bool temporary);

    std::unique_ptr<ReportEngine> engine_;
    ListPanel* list_ = nullptr;
    QFrame* patient_panel_ = nullptr;
    QLineEdit* patient_id_ = nullptr;
    QPushButton* print_ = nullptr;
    QString backup_folder_;
    qint64 listed_at_ = 0; // the journal's mark when the list was read
    bool backing_up_ = false;
};

// Registers the screen with the menu's screen registry.
void register_utility_screen();

inline constexpr char kAllPatientsCaption[] = "List of all patients";
inline constexpr char kTemporaryPatientsCaption[] = "List of temporary patients";
