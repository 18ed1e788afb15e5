#pragma once
// The field map of the main form: every register-bound widget with its page, geometry and
// binding. The form builds its fields from this table in table order, and that order is
// behaviour: the one-click list walks the parameter fields in the order they were created.
//
// Moving a field on screen means changing its x and y here (and, if its caption should move
// with it, nothing else: the artwork generator places captions from this table too).

#include <QRect>
#include <QString>

#include <cstddef>

enum class FieldPage {
    Home,     // tab 0, Host_tabWidget
    Data,     // tab 1, Data_tabWidget
    SetPage1, // tab 2, stackedWidget page 0 (set_page)
    SetPage2, // tab 2, stackedWidget page 1 (set_page_2)
    Fault,    // tab 3, Fault_tabWidget
};

enum class FieldKind {
    Read,      // R_Addr<block>Num<index>_text: shows one mirror cell (and the cells after it)
    Edit,      // W_Addr<n>_text: the operator's value for parameter n
    Button,    // W_Addr<n>_btn: a textless hot spot over a "Set" face drawn in the artwork
    SetButton, // W_Addr<n>_btn: an ordinary visible button with the text "Set"
    Command,   // W_Addr<n>_btn: a textless one-shot command button on the Fault page
};

struct FieldDef {
    const char *name;
    FieldPage page;
    int x, y, w, h; // pixels inside the page
    FieldKind kind;
    int block; // Read: poll block; -1 otherwise
    int index; // Read: word offset inside the block; -1 otherwise
    int param; // Edit and buttons: parameter (= register) number; 0 for read fields

    QRect rect() const { return QRect(x, y, w, h); }
    // Mirror cell shown by a read field (block * 100 + index); -1 for other kinds.
    int cell() const { return kind == FieldKind::Read ? block * 100 + index : -1; }
    bool isButton() const {
        return kind == FieldKind::Button || kind == FieldKind::SetButton ||
               kind == FieldKind::Command;
    }
};

// The whole map, in creation order.
const FieldDef *fieldMap();
std::size_t fieldMapSize();

// The row with this object name, or nullptr.
const FieldDef *findField(const QString &name);
// The read field of parameter n (the one standing left of its edit field), or nullptr.
const FieldDef *paramReadField(int param);
// The edit field / write button of parameter n, or nullptr.
const FieldDef *paramEditField(int param);
const FieldDef *paramButton(int param);

// Object name of a page as the form names it ("Host_tabWidget", "set_page", ...).
const char *pageObjectName(FieldPage page);

// The form's own caption labels: the few captions the artwork leaves to a label of the form
// ("Host ID" beside the second Host ID field, "Mean Temp", the balancing rows).
struct FormLabel {
    const char *name;
    FieldPage page;
    int x, y, w, h; // pixels inside the page
    const char *text;

    QRect rect() const { return QRect(x, y, w, h); }
};
const FormLabel *formLabels();
std::size_t formLabelCount();
// The row with this object name, or nullptr.
const FormLabel *findFormLabel(const char *name);
// A label's text as the form shows it (translated in the form's context).
QString formLabelText(const FormLabel &label);

// Column heads of the rack table (Data page) and the pack table (Pack page) as the form shows
// them; empty past the table.
constexpr int kRackTableColumns = 9;
constexpr int kPackTableColumns = 92;
QString rackColumnHead(int column);
QString packColumnHead(int column);

// The Fault page's alarm grid as the form labels it: the level of row r (0..7, "Level1
// Warning（H）" ...) and the alarm of bit c (0..7) of row r ("TEMP_High" ...). Word k of the
// alarm bits covers row 2k with bits 0..7 and row 2k + 1 with bits 8..15. Empty outside the grid.
constexpr int kFaultLegendRows = 8;
constexpr int kFaultLegendCols = 8;
QString faultLevelText(int row);
QString faultAlarmText(int row, int bit);
