#pragma once
// The main form. Written by hand instead of by a form compiler because most of it is data:
// the register-bound fields come from the field map (fieldmap.h) and one loop creates them.
// The named widgets that are not fields are public members under their object names; the
// fields are found by name (field(), readField(), editField(), writeButton()) or with
// findChild<QPlainTextEdit *>("R_Addr2Num0_text").

#include "fieldmap.h"

#include <QFrame>
#include <QHash>
#include <QLabel>
#include <QList>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QString>
#include <QTabWidget>
#include <QTableWidget>
#include <QWidget>

namespace Ui {

class Widget {
public:
    // Window heading.
    QLabel *welcome_label = nullptr;
    QLabel *welcome2_label = nullptr;

    QTabWidget *tabWidget = nullptr;

    // Tab 0, Home.
    QWidget *Host_tabWidget = nullptr;
    QLabel *label = nullptr; // "Host ID"
    QFrame *line = nullptr;
    QFrame *line_2 = nullptr;
    QLabel *label_3 = nullptr; // "Mean Temp"

    // Tab 1, Data.
    QWidget *Data_tabWidget = nullptr;
    QTableWidget *Rack_tableWidget = nullptr;
    QLabel *RackTableBackLabel = nullptr;

    // Tab 2, Settings: two stacked pages.
    QWidget *Setting_tabWidget = nullptr;
    QStackedWidget *stackedWidget = nullptr;
    QWidget *set_page = nullptr;
    QLabel *label_2 = nullptr; // "BalStartVolt(mV)"
    QLabel *label_5 = nullptr; // "BalStartVoltDiff(mV)"
    QLabel *label_6 = nullptr; // "BalStoptVoltDiff(mV)"
    QFrame *line_3 = nullptr;
    QFrame *line_6 = nullptr;
    QFrame *line_7 = nullptr;
    QPushButton *next_page1 = nullptr;
    QLabel *page_indicator1 = nullptr; // "1/2" beside the page arrow
    QWidget *set_page_2 = nullptr;
    QPushButton *next_page2 = nullptr;
    QLabel *page_indicator2 = nullptr; // "2/2"

    // Tab 3, Fault.
    QWidget *Fault_tabWidget = nullptr;
    QTableWidget *Fault_tableWidget = nullptr;
    QLabel *FaultTableBackLabel = nullptr;
    QProgressBar *Fault_progressBar = nullptr;
    QPlainTextEdit *needReadFaultCnt_text = nullptr;
    QPushButton *ReadingFault_btn = nullptr;
    QPushButton *ExportFault_btn = nullptr;
    // The three one-shot command buttons (also in the field map).
    QPushButton *W_Addr81_btn = nullptr; // restore factory settings
    QPushButton *W_Addr82_btn = nullptr; // forced relay close
    QPushButton *W_Addr83_btn = nullptr; // system shutdown

    // Tab 4, Pack.
    QWidget *Pack_tabWidget = nullptr;
    QTableWidget *PACK_tableWidget = nullptr;
    QLabel *PackTableBackLabel = nullptr;

    // Footer.
    QPushButton *one_key_set_btn = nullptr;
    QPushButton *one_key_set_muti_batt_btn = nullptr;
    QLabel *timeTips_label = nullptr;
    QLabel *status_label = nullptr;
    QLabel *statusText_label = nullptr;
    QLabel *devaddr_label = nullptr;
    QLabel *devaddrText_label = nullptr;
    QPlainTextEdit *devaddrSetText = nullptr;
    QPushButton *devaddrSet_btn = nullptr;
    QPushButton *com_set_btn = nullptr;
    QPushButton *com_open_close_btn = nullptr;

    // Builds the whole widget tree on Widget (1400 x 900), then retranslateUi, tab 0, page 0:
    // setupHome() then setupRest().
    void setupUi(QWidget *Widget);
    // Whether setupHome() starts decoding the Home page's artwork on a thread of its own while
    // it builds the page.
    bool decodeHomeAhead = false;
    // The window's frame (heading, tab widget with its empty pages, footer) with the Home page
    // whole, its texts set, tab 0 and page 0 shown: what the window shows first.
    void setupHome(QWidget *Widget);
    // The other pages' widgets and fields, their texts, and the slots by name; once, after
    // setupHome(). Until then only Home's fields exist.
    void setupRest(QWidget *Widget);
    // The window's full size, and the smallest client size the form can be fitted into.
    static constexpr int kFullWidth = 1400;
    static constexpr int kFullHeight = 900;
    // Fits the form into a client area smaller than 1400 x 900 (a small screen): each tab page
    // scrolls inside the tab widget, which keeps its tab bar in view, and the footer stands at
    // the bottom edge, its right-hand controls moved in from the right. A size that holds the
    // whole form changes nothing. Call once, before the window is shown; returns the client
    // size the window gets.
    QSize fitInto(QWidget *Widget, const QSize &available);
    // Whether fitInto() has put the pages into scroll areas.
    bool scrolls() const { return m_scrolls; }
    // Window title, button and label texts, table headers and legend; empties the Home and
    // Data fields, the two footer/fault entry fields and eight Settings fields.
    void retranslateUi(QWidget *Widget);

    // ---- Field lookup (valid after setupUi) -------------------------------------------------
    // The read/edit field or button with this object name, or nullptr.
    QWidget *field(const QString &name) const { return m_fields.value(name); }
    QPlainTextEdit *textField(const QString &name) const;
    // R_Addr<block>Num<index>_text, W_Addr<n>_text, W_Addr<n>_btn; nullptr when not on the form.
    QPlainTextEdit *readField(int block, int index) const;
    QPlainTextEdit *editField(int param) const;
    QPushButton *writeButton(int param) const;
    // R_Addr2Num0_backup_text, the second read field of cell 2.0 in the "Host ID" row.
    QPlainTextEdit *hostIdBackupField() const;
    // Every field widget in field-map (creation) order; fieldWidgets()[i] belongs to fieldMap()[i]
    // (nullptr for another page's field until setupRest()).
    const QList<QWidget *> &fieldWidgets() const { return m_fieldList; }
    // The page widget that holds the fields of a field-map page.
    QWidget *pageWidget(FieldPage page) const;

private:
    // Home's fields, or every other page's.
    void createFields(bool home);
    void setUpKeyboard(const QList<QPlainTextEdit *> &entries);
    void retranslateFrame(QWidget *Widget);
    void retranslatePages();
    void emptyFields(FieldPage page);

    bool m_scrolls = false;
    QHash<QString, QWidget *> m_fields;
    QList<QWidget *> m_fieldList;
};

} // namespace Ui
