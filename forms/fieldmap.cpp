#include "fieldmap.h"

#include <QCoreApplication>

#include <cstring>

namespace {

// Columns: object name, page, x, y, width, height, kind, block, index, parameter.
// Each parameter row reads left to right: read field, edit field, write button.
// clang-format off
const FieldDef kFieldMap[] = {
    // ---- Home (Host_tabWidget) ------------------------------------------------------------
    {"R_Addr2Num16_text",         FieldPage::Home,      570,  50,  90, 30, FieldKind::Read,      2, 16, 0},
    {"W_Addr1_text",              FieldPage::Home,      670,  50,  90, 30, FieldKind::Edit,      -1, -1, 1},
    {"W_Addr1_btn",               FieldPage::Home,      780,  55,  35, 20, FieldKind::Button,    -1, -1, 1},
    {"R_Addr2Num17_text",         FieldPage::Home,      570,  82,  90, 30, FieldKind::Read,      2, 17, 0},
    {"W_Addr2_text",              FieldPage::Home,      670,  82,  90, 30, FieldKind::Edit,      -1, -1, 2},
    {"W_Addr2_btn",               FieldPage::Home,      780,  87,  35, 20, FieldKind::Button,    -1, -1, 2},
    {"R_Addr2Num18_text",         FieldPage::Home,      570, 116,  90, 30, FieldKind::Read,      2, 18, 0},
    {"W_Addr8_text",              FieldPage::Home,      670, 116,  90, 30, FieldKind::Edit,      -1, -1, 8},
    {"W_Addr8_btn",               FieldPage::Home,      780, 121,  35, 20, FieldKind::Button,    -1, -1, 8},
    {"R_Addr2Num19_text",         FieldPage::Home,      570, 150,  90, 30, FieldKind::Read,      2, 19, 0},
    {"W_Addr9_text",              FieldPage::Home,      670, 150,  90, 30, FieldKind::Edit,      -1, -1, 9},
    {"W_Addr9_btn",               FieldPage::Home,      780, 155,  35, 20, FieldKind::Button,    -1, -1, 9},
    {"R_Addr2Num20_text",         FieldPage::Home,      570, 184,  90, 30, FieldKind::Read,      2, 20, 0},
    {"W_Addr10_text",             FieldPage::Home,      670, 184,  90, 30, FieldKind::Edit,      -1, -1, 10},
    {"W_Addr10_btn",              FieldPage::Home,      780, 189,  35, 20, FieldKind::Button,    -1, -1, 10},
    {"R_Addr2Num21_text",         FieldPage::Home,      570, 216,  90, 30, FieldKind::Read,      2, 21, 0},
    {"W_Addr11_text",             FieldPage::Home,      670, 216,  90, 30, FieldKind::Edit,      -1, -1, 11},
    {"W_Addr11_btn",              FieldPage::Home,      780, 221,  35, 20, FieldKind::Button,    -1, -1, 11},
    {"R_Addr2Num22_text",         FieldPage::Home,      570, 248,  90, 30, FieldKind::Read,      2, 22, 0},
    {"W_Addr12_text",             FieldPage::Home,      670, 248,  90, 30, FieldKind::Edit,      -1, -1, 12},
    {"W_Addr12_btn",              FieldPage::Home,      780, 253,  35, 20, FieldKind::Button,    -1, -1, 12},
    {"R_Addr2Num23_text",         FieldPage::Home,      570, 282,  90, 30, FieldKind::Read,      2, 23, 0},
    {"W_Addr15_text",             FieldPage::Home,      670, 282,  90, 30, FieldKind::Edit,      -1, -1, 15},
    {"W_Addr15_btn",              FieldPage::Home,      780, 287,  35, 20, FieldKind::Button,    -1, -1, 15},
    {"R_Addr2Num24_text",         FieldPage::Home,      570, 316,  90, 30, FieldKind::Read,      2, 24, 0},
    {"W_Addr16_text",             FieldPage::Home,      670, 316,  90, 30, FieldKind::Edit,      -1, -1, 16},
    {"W_Addr16_btn",              FieldPage::Home,      780, 321,  35, 20, FieldKind::Button,    -1, -1, 16},
    {"R_Addr2Num25_text",         FieldPage::Home,      570, 348,  90, 30, FieldKind::Read,      2, 25, 0},
    {"W_Addr17_text",             FieldPage::Home,      670, 348,  90, 30, FieldKind::Edit,      -1, -1, 17},
    {"W_Addr17_btn",              FieldPage::Home,      780, 353,  35, 20, FieldKind::Button,    -1, -1, 17},
    {"R_Addr2Num26_text",         FieldPage::Home,      570, 382,  90, 30, FieldKind::Read,      2, 26, 0},
    {"W_Addr18_text",             FieldPage::Home,      670, 382,  90, 30, FieldKind::Edit,      -1, -1, 18},
    {"W_Addr18_btn",              FieldPage::Home,      780, 387,  35, 20, FieldKind::Button,    -1, -1, 18},
    {"R_Addr2Num27_text",         FieldPage::Home,      570, 416,  90, 30, FieldKind::Read,      2, 27, 0},
    {"W_Addr19_text",             FieldPage::Home,      670, 416,  90, 30, FieldKind::Edit,      -1, -1, 19},
    {"W_Addr19_btn",              FieldPage::Home,      780, 421,  35, 20, FieldKind::Button,    -1, -1, 19},
    {"R_Addr2Num28_text",         FieldPage::Home,      570, 448,  90, 30, FieldKind::Read,      2, 28, 0},
    {"W_Addr20_text",             FieldPage::Home,      670, 448,  90, 30, FieldKind::Edit,      -1, -1, 20},
    {"W_Addr20_btn",              FieldPage::Home,      780, 453,  35, 20, FieldKind::Button,    -1, -1, 20},
    {"R_Addr2Num29_text",         FieldPage::Home,      570, 482,  90, 30, FieldKind::Read,      2, 29, 0},
    {"W_Addr23_text",             FieldPage::Home,      670, 482,  90, 30, FieldKind::Edit,      -1, -1, 23},
    {"W_Addr23_btn",              FieldPage::Home,      780, 487,  35, 20, FieldKind::Button,    -1, -1, 23},
    {"R_Addr2Num51_text",         FieldPage::Home,     1045, 384,  90, 30, FieldKind::Read,      2, 51, 0},
    {"W_Addr14_text",             FieldPage::Home,     1145, 386,  90, 30, FieldKind::Edit,      -1, -1, 14},
    {"W_Addr14_btn",              FieldPage::Home,     1304, 391,  35, 20, FieldKind::Button,    -1, -1, 14},
    {"R_Addr2Num55_text",         FieldPage::Home,     1045, 550,  90, 30, FieldKind::Read,      2, 55, 0},
    {"W_Addr3_text",              FieldPage::Home,     1145, 550,  90, 30, FieldKind::Edit,      -1, -1, 3},
    {"W_Addr3_btn",               FieldPage::Home,     1306, 555,  35, 20, FieldKind::Button,    -1, -1, 3},
    {"R_Addr2Num56_text",         FieldPage::Home,     1045, 580,  90, 30, FieldKind::Read,      2, 56, 0},
    {"W_Addr4_text",              FieldPage::Home,     1145, 580,  90, 30, FieldKind::Edit,      -1, -1, 4},
    {"W_Addr4_btn",               FieldPage::Home,     1306, 585,  35, 20, FieldKind::Button,    -1, -1, 4},
    {"R_Addr2Num57_text",         FieldPage::Home,     1045, 610,  90, 30, FieldKind::Read,      2, 57, 0},
    {"W_Addr5_text",              FieldPage::Home,     1145, 610,  90, 30, FieldKind::Edit,      -1, -1, 5},
    {"W_Addr5_btn",               FieldPage::Home,     1306, 615,  35, 20, FieldKind::Button,    -1, -1, 5},
    {"R_Addr2Num58_text",         FieldPage::Home,     1045, 638,  90, 30, FieldKind::Read,      2, 58, 0},
    {"W_Addr6_text",              FieldPage::Home,     1145, 638,  90, 30, FieldKind::Edit,      -1, -1, 6},
    {"W_Addr6_btn",               FieldPage::Home,     1306, 643,  35, 20, FieldKind::Button,    -1, -1, 6},
    {"R_Addr2Num59_text",         FieldPage::Home,     1045, 666,  90, 30, FieldKind::Read,      2, 59, 0},
    {"W_Addr7_text",              FieldPage::Home,     1145, 666,  90, 30, FieldKind::Edit,      -1, -1, 7},
    {"W_Addr7_btn",               FieldPage::Home,     1306, 671,  35, 20, FieldKind::Button,    -1, -1, 7},
    {"R_Addr2Num60_text",         FieldPage::Home,     1045, 694,  90, 30, FieldKind::Read,      2, 60, 0},
    {"W_Addr13_text",             FieldPage::Home,     1145, 694,  90, 30, FieldKind::Edit,      -1, -1, 13},
    {"W_Addr13_btn",              FieldPage::Home,     1306, 699,  35, 20, FieldKind::Button,    -1, -1, 13},
    {"R_Addr2Num61_text",         FieldPage::Home,     1045, 724,  90, 30, FieldKind::Read,      2, 61, 0},
    {"W_Addr21_text",             FieldPage::Home,     1145, 724,  90, 30, FieldKind::Edit,      -1, -1, 21},
    {"W_Addr21_btn",              FieldPage::Home,     1308, 729,  35, 20, FieldKind::Button,    -1, -1, 21},
    {"R_Addr2Num62_text",         FieldPage::Home,     1045, 758,  90, 30, FieldKind::Read,      2, 62, 0},
    {"W_Addr22_text",             FieldPage::Home,     1145, 758,  90, 30, FieldKind::Edit,      -1, -1, 22},
    {"W_Addr22_btn",              FieldPage::Home,     1306, 763,  35, 20, FieldKind::Button,    -1, -1, 22},
    {"R_Addr2Num63_text",         FieldPage::Home,      260, 720, 205, 30, FieldKind::Read,      2, 63, 0},
    {"W_Addr73_text",             FieldPage::Home,      470, 720, 205, 30, FieldKind::Edit,      -1, -1, 73},
    {"W_Addr73_btn",              FieldPage::Home,      740, 725,  35, 20, FieldKind::Button,    -1, -1, 73},
    {"R_Addr2Num93_text",         FieldPage::Home,      260, 756, 205, 30, FieldKind::Read,      2, 93, 0},
    {"W_Addr74_text",             FieldPage::Home,      470, 756, 205, 30, FieldKind::Edit,      -1, -1, 74},
    {"W_Addr74_btn",              FieldPage::Home,      740, 761,  35, 20, FieldKind::Button,    -1, -1, 74},
    {"R_Addr2Num0_backup_text",   FieldPage::Home,      570, 520,  90, 30, FieldKind::Read,      2, 0, 0},
    {"W_Addr84_text",             FieldPage::Home,      670, 520,  90, 30, FieldKind::Edit,      -1, -1, 84},
    {"W_Addr84_btn",              FieldPage::Home,      776, 525,  44, 20, FieldKind::SetButton, -1, -1, 84},
    {"R_Addr2Num0_text",          FieldPage::Home,      260,  50,  90, 30, FieldKind::Read,      2, 0, 0},
    {"R_Addr2Num1_text",          FieldPage::Home,      260,  82,  90, 30, FieldKind::Read,      2, 1, 0},
    {"R_Addr2Num2_text",          FieldPage::Home,      260, 116,  90, 30, FieldKind::Read,      2, 2, 0},
    {"R_Addr2Num3_text",          FieldPage::Home,      260, 148,  90, 30, FieldKind::Read,      2, 3, 0},
    {"R_Addr2Num4_text",          FieldPage::Home,      260, 182, 133, 30, FieldKind::Read,      2, 4, 0},
    {"R_Addr2Num5_text",          FieldPage::Home,      260, 216, 133, 30, FieldKind::Read,      2, 5, 0},
    {"R_Addr2Num6_text",          FieldPage::Home,      260, 248,  90, 30, FieldKind::Read,      2, 6, 0},
    {"R_Addr2Num7_text",          FieldPage::Home,      260, 282,  90, 30, FieldKind::Read,      2, 7, 0},
    {"R_Addr2Num8_text",          FieldPage::Home,      260, 316,  90, 30, FieldKind::Read,      2, 8, 0},
    {"R_Addr2Num9_text",          FieldPage::Home,      260, 348,  90, 30, FieldKind::Read,      2, 9, 0},
    {"R_Addr2Num10_text",         FieldPage::Home,      260, 382,  90, 30, FieldKind::Read,      2, 10, 0},
    {"R_Addr2Num11_text",         FieldPage::Home,      260, 416,  90, 30, FieldKind::Read,      2, 11, 0},
    {"R_Addr2Num12_text",         FieldPage::Home,      260, 448,  90, 30, FieldKind::Read,      2, 12, 0},
    {"R_Addr2Num13_text",         FieldPage::Home,      260, 482, 119, 30, FieldKind::Read,      2, 13, 0},
    {"R_Addr2Num14_text",         FieldPage::Home,      260, 516,  90, 30, FieldKind::Read,      2, 14, 0},
    {"R_Addr2Num15_text",         FieldPage::Home,      260, 548,  90, 30, FieldKind::Read,      2, 15, 0},
    {"R_Addr2Num83_text",         FieldPage::Home,      260, 644, 205, 30, FieldKind::Read,      2, 83, 0},
    {"R_Addr2Num73_text",         FieldPage::Home,      260, 682, 205, 30, FieldKind::Read,      2, 73, 0},
    // The two cell-voltage texts ("3.358/12-15") need more than 81 pixels; nothing stands to
    // their right, so they are 120 wide.
    {"R_Addr2Num30_text",         FieldPage::Home,     1045,  50, 120, 30, FieldKind::Read,      2, 30, 0},
    {"R_Addr2Num33_text",         FieldPage::Home,     1045,  84, 120, 30, FieldKind::Read,      2, 33, 0},
    {"R_Addr2Num36_text",         FieldPage::Home,     1045, 114,  81, 30, FieldKind::Read,      2, 36, 0},
    {"R_Addr2Num38_text",         FieldPage::Home,     1045, 144,  81, 30, FieldKind::Read,      2, 38, 0},
    {"R_Addr2Num99_text",         FieldPage::Home,     1258, 114,  81, 30, FieldKind::Read,      2, 99, 0},
    {"R_Addr2Num40_text",         FieldPage::Home,     1045, 214,  90, 30, FieldKind::Read,      2, 40, 0},
    {"R_Addr2Num41_text",         FieldPage::Home,     1045, 244, 180, 30, FieldKind::Read,      2, 41, 0},
    {"R_Addr2Num43_text",         FieldPage::Home,     1045, 272, 180, 30, FieldKind::Read,      2, 43, 0},
    {"R_Addr2Num45_text",         FieldPage::Home,     1045, 300, 180, 30, FieldKind::Read,      2, 45, 0},
    {"R_Addr2Num47_text",         FieldPage::Home,     1045, 328, 180, 30, FieldKind::Read,      2, 47, 0},
    {"R_Addr2Num49_text",         FieldPage::Home,     1045, 356, 180, 30, FieldKind::Read,      2, 49, 0},
    {"R_Addr2Num52_text",         FieldPage::Home,     1045, 464,  90, 30, FieldKind::Read,      2, 52, 0},
    {"R_Addr2Num53_text",         FieldPage::Home,     1045, 494,  90, 30, FieldKind::Read,      2, 53, 0},
    {"R_Addr2Num54_text",         FieldPage::Home,     1045, 524,  90, 30, FieldKind::Read,      2, 54, 0},
    // ---- Data (Data_tabWidget) ------------------------------------------------------------
    {"R_Addr0Num0_text",          FieldPage::Data,      258,  58, 131, 31, FieldKind::Read,      0, 0, 0},
    {"R_Addr0Num1_text",          FieldPage::Data,      258,  88, 111, 31, FieldKind::Read,      0, 1, 0},
    {"R_Addr0Num2_text",          FieldPage::Data,      258, 116, 111, 31, FieldKind::Read,      0, 2, 0},
    {"R_Addr0Num3_text",          FieldPage::Data,      258, 146, 111, 31, FieldKind::Read,      0, 3, 0},
    {"R_Addr0Num4_text",          FieldPage::Data,      258, 176, 111, 31, FieldKind::Read,      0, 4, 0},
    {"R_Addr0Num5_text",          FieldPage::Data,      656,  58, 111, 31, FieldKind::Read,      0, 5, 0},
    {"R_Addr0Num6_text",          FieldPage::Data,      656,  88, 111, 31, FieldKind::Read,      0, 6, 0},
    {"R_Addr0Num7_text",          FieldPage::Data,      656, 118, 111, 31, FieldKind::Read,      0, 7, 0},
    {"R_Addr0Num8_text",          FieldPage::Data,      656, 146, 111, 31, FieldKind::Read,      0, 8, 0},
    {"R_Addr0Num9_text",          FieldPage::Data,      656, 176, 159, 31, FieldKind::Read,      0, 9, 0},
    {"R_Addr0Num10_text",         FieldPage::Data,     1134,  60, 153, 31, FieldKind::Read,      0, 10, 0},
    {"R_Addr0Num14_text",         FieldPage::Data,     1134,  96, 153, 31, FieldKind::Read,      0, 14, 0},
    {"R_Addr0Num18_text",         FieldPage::Data,     1134, 136, 153, 31, FieldKind::Read,      0, 18, 0},
    {"R_Addr0Num21_text",         FieldPage::Data,     1136, 178, 153, 31, FieldKind::Read,      0, 21, 0},
    // ---- Settings, first page (set_page) ------------------------------------------------
    {"R_Addr3Num0_text",          FieldPage::SetPage1,  218,  54,  99, 31, FieldKind::Read,      3, 0, 0},
    {"W_Addr24_text",             FieldPage::SetPage1,  326,  54,  99, 31, FieldKind::Edit,      -1, -1, 24},
    {"W_Addr24_btn",              FieldPage::SetPage1,  426,  59,  36, 21, FieldKind::Button,    -1, -1, 24},
    {"R_Addr3Num1_text",          FieldPage::SetPage1,  218,  86,  99, 31, FieldKind::Read,      3, 1, 0},
    {"W_Addr25_text",             FieldPage::SetPage1,  326,  86,  99, 31, FieldKind::Edit,      -1, -1, 25},
    {"W_Addr25_btn",              FieldPage::SetPage1,  426,  91,  36, 21, FieldKind::Button,    -1, -1, 25},
    {"R_Addr3Num2_text",          FieldPage::SetPage1,  218, 114,  99, 31, FieldKind::Read,      3, 2, 0},
    {"W_Addr26_text",             FieldPage::SetPage1,  326, 114,  99, 31, FieldKind::Edit,      -1, -1, 26},
    {"W_Addr26_btn",              FieldPage::SetPage1,  426, 119,  36, 21, FieldKind::Button,    -1, -1, 26},
    {"R_Addr3Num3_text",          FieldPage::SetPage1,  218, 144,  99, 31, FieldKind::Read,      3, 3, 0},
    {"W_Addr27_text",             FieldPage::SetPage1,  326, 144,  99, 31, FieldKind::Edit,      -1, -1, 27},
    {"W_Addr27_btn",              FieldPage::SetPage1,  426, 149,  36, 21, FieldKind::Button,    -1, -1, 27},
    {"R_Addr3Num4_text",          FieldPage::SetPage1,  218, 174,  99, 31, FieldKind::Read,      3, 4, 0},
    {"W_Addr28_text",             FieldPage::SetPage1,  326, 174,  99, 31, FieldKind::Edit,      -1, -1, 28},
    {"W_Addr28_btn",              FieldPage::SetPage1,  426, 179,  36, 21, FieldKind::Button,    -1, -1, 28},
    {"R_Addr3Num5_text",          FieldPage::SetPage1,  218, 202,  99, 31, FieldKind::Read,      3, 5, 0},
    {"W_Addr29_text",             FieldPage::SetPage1,  326, 202,  99, 31, FieldKind::Edit,      -1, -1, 29},
    {"W_Addr29_btn",              FieldPage::SetPage1,  426, 207,  36, 21, FieldKind::Button,    -1, -1, 29},
    {"R_Addr3Num6_text",          FieldPage::SetPage1,  664,  54,  99, 31, FieldKind::Read,      3, 6, 0},
    {"W_Addr30_text",             FieldPage::SetPage1,  764,  54,  99, 31, FieldKind::Edit,      -1, -1, 30},
    {"W_Addr30_btn",              FieldPage::SetPage1,  864,  59,  36, 21, FieldKind::Button,    -1, -1, 30},
    {"R_Addr3Num7_text",          FieldPage::SetPage1,  664,  86,  99, 31, FieldKind::Read,      3, 7, 0},
    {"W_Addr31_text",             FieldPage::SetPage1,  764,  86,  99, 31, FieldKind::Edit,      -1, -1, 31},
    {"W_Addr31_btn",              FieldPage::SetPage1,  864,  91,  36, 21, FieldKind::Button,    -1, -1, 31},
    {"R_Addr3Num8_text",          FieldPage::SetPage1,  664, 114,  99, 31, FieldKind::Read,      3, 8, 0},
    {"W_Addr32_text",             FieldPage::SetPage1,  764, 114,  99, 31, FieldKind::Edit,      -1, -1, 32},
    {"W_Addr32_btn",              FieldPage::SetPage1,  864, 119,  36, 21, FieldKind::Button,    -1, -1, 32},
    {"R_Addr3Num9_text",          FieldPage::SetPage1,  664, 144,  99, 31, FieldKind::Read,      3, 9, 0},
    {"W_Addr33_text",             FieldPage::SetPage1,  764, 144,  99, 31, FieldKind::Edit,      -1, -1, 33},
    {"W_Addr33_btn",              FieldPage::SetPage1,  864, 149,  36, 21, FieldKind::Button,    -1, -1, 33},
    {"R_Addr3Num10_text",         FieldPage::SetPage1,  664, 174,  99, 31, FieldKind::Read,      3, 10, 0},
    {"W_Addr34_text",             FieldPage::SetPage1,  764, 174,  99, 31, FieldKind::Edit,      -1, -1, 34},
    {"W_Addr34_btn",              FieldPage::SetPage1,  864, 179,  36, 21, FieldKind::Button,    -1, -1, 34},
    {"R_Addr3Num11_text",         FieldPage::SetPage1,  664, 202,  99, 31, FieldKind::Read,      3, 11, 0},
    {"W_Addr35_text",             FieldPage::SetPage1,  764, 202,  99, 31, FieldKind::Edit,      -1, -1, 35},
    {"W_Addr35_btn",              FieldPage::SetPage1,  864, 207,  36, 21, FieldKind::Button,    -1, -1, 35},
    {"R_Addr3Num12_text",         FieldPage::SetPage1, 1094,  54,  99, 31, FieldKind::Read,      3, 12, 0},
    {"W_Addr36_text",             FieldPage::SetPage1, 1202,  54,  99, 31, FieldKind::Edit,      -1, -1, 36},
    {"W_Addr36_btn",              FieldPage::SetPage1, 1302,  59,  36, 21, FieldKind::Button,    -1, -1, 36},
    {"R_Addr3Num13_text",         FieldPage::SetPage1, 1094,  86,  99, 31, FieldKind::Read,      3, 13, 0},
    {"W_Addr37_text",             FieldPage::SetPage1, 1202,  86,  99, 31, FieldKind::Edit,      -1, -1, 37},
    {"W_Addr37_btn",              FieldPage::SetPage1, 1302,  91,  36, 21, FieldKind::Button,    -1, -1, 37},
    {"R_Addr3Num14_text",         FieldPage::SetPage1, 1094, 114,  99, 31, FieldKind::Read,      3, 14, 0},
    {"W_Addr38_text",             FieldPage::SetPage1, 1202, 114,  99, 31, FieldKind::Edit,      -1, -1, 38},
    {"W_Addr38_btn",              FieldPage::SetPage1, 1302, 119,  36, 21, FieldKind::Button,    -1, -1, 38},
    {"R_Addr3Num15_text",         FieldPage::SetPage1, 1094, 144,  99, 31, FieldKind::Read,      3, 15, 0},
    {"W_Addr39_text",             FieldPage::SetPage1, 1202, 144,  99, 31, FieldKind::Edit,      -1, -1, 39},
    {"W_Addr39_btn",              FieldPage::SetPage1, 1302, 149,  36, 21, FieldKind::Button,    -1, -1, 39},
    {"R_Addr4Num0_text",          FieldPage::SetPage1,  218, 260,  99, 31, FieldKind::Read,      4, 0, 0},
    {"W_Addr40_text",             FieldPage::SetPage1,  326, 260,  99, 31, FieldKind::Edit,      -1, -1, 40},
    {"W_Addr40_btn",              FieldPage::SetPage1,  426, 265,  36, 21, FieldKind::Button,    -1, -1, 40},
    {"R_Addr4Num1_text",          FieldPage::SetPage1,  218, 292,  99, 31, FieldKind::Read,      4, 1, 0},
    {"W_Addr41_text",             FieldPage::SetPage1,  326, 292,  99, 31, FieldKind::Edit,      -1, -1, 41},
    {"W_Addr41_btn",              FieldPage::SetPage1,  426, 297,  36, 21, FieldKind::Button,    -1, -1, 41},
    {"R_Addr4Num2_text",          FieldPage::SetPage1,  218, 320,  99, 31, FieldKind::Read,      4, 2, 0},
    {"W_Addr42_text",             FieldPage::SetPage1,  326, 320,  99, 31, FieldKind::Edit,      -1, -1, 42},
    {"W_Addr42_btn",              FieldPage::SetPage1,  426, 325,  36, 21, FieldKind::Button,    -1, -1, 42},
    {"R_Addr4Num3_text",          FieldPage::SetPage1,  218, 350,  99, 31, FieldKind::Read,      4, 3, 0},
    {"W_Addr43_text",             FieldPage::SetPage1,  326, 350,  99, 31, FieldKind::Edit,      -1, -1, 43},
    {"W_Addr43_btn",              FieldPage::SetPage1,  426, 355,  36, 21, FieldKind::Button,    -1, -1, 43},
    {"R_Addr4Num4_text",          FieldPage::SetPage1,  218, 380,  99, 31, FieldKind::Read,      4, 4, 0},
    {"W_Addr44_text",             FieldPage::SetPage1,  326, 380,  99, 31, FieldKind::Edit,      -1, -1, 44},
    {"W_Addr44_btn",              FieldPage::SetPage1,  426, 385,  36, 21, FieldKind::Button,    -1, -1, 44},
    {"R_Addr4Num5_text",          FieldPage::SetPage1,  218, 408,  99, 31, FieldKind::Read,      4, 5, 0},
    {"W_Addr45_text",             FieldPage::SetPage1,  326, 408,  99, 31, FieldKind::Edit,      -1, -1, 45},
    {"W_Addr45_btn",              FieldPage::SetPage1,  426, 413,  36, 21, FieldKind::Button,    -1, -1, 45},
    {"R_Addr4Num6_text",          FieldPage::SetPage1,  218, 438,  99, 31, FieldKind::Read,      4, 6, 0},
    {"W_Addr46_text",             FieldPage::SetPage1,  326, 438,  99, 31, FieldKind::Edit,      -1, -1, 46},
    {"W_Addr46_btn",              FieldPage::SetPage1,  426, 443,  36, 21, FieldKind::Button,    -1, -1, 46},
    {"R_Addr4Num7_text",          FieldPage::SetPage1,  664, 260,  99, 31, FieldKind::Read,      4, 7, 0},
    {"W_Addr47_text",             FieldPage::SetPage1,  764, 260,  99, 31, FieldKind::Edit,      -1, -1, 47},
    {"W_Addr47_btn",              FieldPage::SetPage1,  864, 265,  36, 21, FieldKind::Button,    -1, -1, 47},
    {"R_Addr4Num8_text",          FieldPage::SetPage1,  664, 292,  99, 31, FieldKind::Read,      4, 8, 0},
    {"W_Addr48_text",             FieldPage::SetPage1,  764, 292,  99, 31, FieldKind::Edit,      -1, -1, 48},
    {"W_Addr48_btn",              FieldPage::SetPage1,  864, 297,  36, 21, FieldKind::Button,    -1, -1, 48},
    {"R_Addr4Num9_text",          FieldPage::SetPage1,  664, 320,  99, 31, FieldKind::Read,      4, 9, 0},
    {"W_Addr49_text",             FieldPage::SetPage1,  764, 320,  99, 31, FieldKind::Edit,      -1, -1, 49},
    {"W_Addr49_btn",              FieldPage::SetPage1,  864, 325,  36, 21, FieldKind::Button,    -1, -1, 49},
    {"R_Addr4Num10_text",         FieldPage::SetPage1,  664, 350,  99, 31, FieldKind::Read,      4, 10, 0},
    {"W_Addr50_text",             FieldPage::SetPage1,  764, 350,  99, 31, FieldKind::Edit,      -1, -1, 50},
    {"W_Addr50_btn",              FieldPage::SetPage1,  864, 355,  36, 21, FieldKind::Button,    -1, -1, 50},
    {"R_Addr4Num11_text",         FieldPage::SetPage1,  664, 380,  99, 31, FieldKind::Read,      4, 11, 0},
    {"W_Addr51_text",             FieldPage::SetPage1,  764, 380,  99, 31, FieldKind::Edit,      -1, -1, 51},
    {"W_Addr51_btn",              FieldPage::SetPage1,  864, 385,  36, 21, FieldKind::Button,    -1, -1, 51},
    {"R_Addr4Num12_text",         FieldPage::SetPage1,  664, 408,  99, 31, FieldKind::Read,      4, 12, 0},
    {"W_Addr52_text",             FieldPage::SetPage1,  764, 408,  99, 31, FieldKind::Edit,      -1, -1, 52},
    {"W_Addr52_btn",              FieldPage::SetPage1,  864, 413,  36, 21, FieldKind::Button,    -1, -1, 52},
    {"R_Addr4Num13_text",         FieldPage::SetPage1,  664, 438,  99, 31, FieldKind::Read,      4, 13, 0},
    {"W_Addr53_text",             FieldPage::SetPage1,  764, 438,  99, 31, FieldKind::Edit,      -1, -1, 53},
    {"W_Addr53_btn",              FieldPage::SetPage1,  864, 443,  36, 21, FieldKind::Button,    -1, -1, 53},
    {"R_Addr4Num14_text",         FieldPage::SetPage1, 1094, 260,  99, 31, FieldKind::Read,      4, 14, 0},
    {"W_Addr54_text",             FieldPage::SetPage1, 1202, 260,  99, 31, FieldKind::Edit,      -1, -1, 54},
    {"W_Addr54_btn",              FieldPage::SetPage1, 1302, 265,  36, 21, FieldKind::Button,    -1, -1, 54},
    {"R_Addr4Num15_text",         FieldPage::SetPage1, 1094, 292,  99, 31, FieldKind::Read,      4, 15, 0},
    {"W_Addr55_text",             FieldPage::SetPage1, 1202, 292,  99, 31, FieldKind::Edit,      -1, -1, 55},
    {"W_Addr55_btn",              FieldPage::SetPage1, 1302, 297,  36, 21, FieldKind::Button,    -1, -1, 55},
    {"R_Addr4Num16_text",         FieldPage::SetPage1, 1094, 320,  99, 31, FieldKind::Read,      4, 16, 0},
    {"W_Addr56_text",             FieldPage::SetPage1, 1202, 320,  99, 31, FieldKind::Edit,      -1, -1, 56},
    {"W_Addr56_btn",              FieldPage::SetPage1, 1302, 325,  36, 21, FieldKind::Button,    -1, -1, 56},
    {"R_Addr4Num17_text",         FieldPage::SetPage1, 1094, 350,  99, 31, FieldKind::Read,      4, 17, 0},
    {"W_Addr57_text",             FieldPage::SetPage1, 1202, 350,  99, 31, FieldKind::Edit,      -1, -1, 57},
    {"W_Addr57_btn",              FieldPage::SetPage1, 1302, 355,  36, 21, FieldKind::Button,    -1, -1, 57},
    {"R_Addr5Num0_text",          FieldPage::SetPage1,  216, 494,  99, 31, FieldKind::Read,      5, 0, 0},
    {"W_Addr58_text",             FieldPage::SetPage1,  324, 494,  99, 31, FieldKind::Edit,      -1, -1, 58},
    {"W_Addr58_btn",              FieldPage::SetPage1,  424, 499,  36, 21, FieldKind::Button,    -1, -1, 58},
    {"R_Addr5Num1_text",          FieldPage::SetPage1,  216, 526,  99, 31, FieldKind::Read,      5, 1, 0},
    {"W_Addr59_text",             FieldPage::SetPage1,  324, 526,  99, 31, FieldKind::Edit,      -1, -1, 59},
    {"W_Addr59_btn",              FieldPage::SetPage1,  424, 531,  36, 21, FieldKind::Button,    -1, -1, 59},
    {"R_Addr5Num2_text",          FieldPage::SetPage1,  216, 554,  99, 31, FieldKind::Read,      5, 2, 0},
    {"W_Addr60_text",             FieldPage::SetPage1,  324, 554,  99, 31, FieldKind::Edit,      -1, -1, 60},
    {"W_Addr60_btn",              FieldPage::SetPage1,  424, 559,  36, 21, FieldKind::Button,    -1, -1, 60},
    {"R_Addr5Num3_text",          FieldPage::SetPage1,  216, 584,  99, 31, FieldKind::Read,      5, 3, 0},
    {"W_Addr61_text",             FieldPage::SetPage1,  324, 584,  99, 31, FieldKind::Edit,      -1, -1, 61},
    {"W_Addr61_btn",              FieldPage::SetPage1,  424, 589,  36, 21, FieldKind::Button,    -1, -1, 61},
    {"R_Addr5Num4_text",          FieldPage::SetPage1,  216, 614,  99, 31, FieldKind::Read,      5, 4, 0},
    {"W_Addr62_text",             FieldPage::SetPage1,  324, 614,  99, 31, FieldKind::Edit,      -1, -1, 62},
    {"W_Addr62_btn",              FieldPage::SetPage1,  424, 619,  36, 21, FieldKind::Button,    -1, -1, 62},
    {"R_Addr5Num5_text",          FieldPage::SetPage1,  216, 642,  99, 31, FieldKind::Read,      5, 5, 0},
    {"W_Addr63_text",             FieldPage::SetPage1,  324, 642,  99, 31, FieldKind::Edit,      -1, -1, 63},
    {"W_Addr63_btn",              FieldPage::SetPage1,  424, 647,  36, 21, FieldKind::Button,    -1, -1, 63},
    {"R_Addr5Num6_text",          FieldPage::SetPage1,  664, 496,  99, 31, FieldKind::Read,      5, 6, 0},
    {"W_Addr64_text",             FieldPage::SetPage1,  764, 496,  99, 31, FieldKind::Edit,      -1, -1, 64},
    {"W_Addr64_btn",              FieldPage::SetPage1,  864, 501,  36, 21, FieldKind::Button,    -1, -1, 64},
    {"R_Addr5Num7_text",          FieldPage::SetPage1,  664, 528,  99, 31, FieldKind::Read,      5, 7, 0},
    {"W_Addr65_text",             FieldPage::SetPage1,  764, 528,  99, 31, FieldKind::Edit,      -1, -1, 65},
    {"W_Addr65_btn",              FieldPage::SetPage1,  864, 533,  36, 21, FieldKind::Button,    -1, -1, 65},
    {"R_Addr5Num8_text",          FieldPage::SetPage1,  664, 556,  99, 31, FieldKind::Read,      5, 8, 0},
    {"W_Addr66_text",             FieldPage::SetPage1,  764, 556,  99, 31, FieldKind::Edit,      -1, -1, 66},
    {"W_Addr66_btn",              FieldPage::SetPage1,  864, 561,  36, 21, FieldKind::Button,    -1, -1, 66},
    {"R_Addr5Num9_text",          FieldPage::SetPage1,  664, 586,  99, 31, FieldKind::Read,      5, 9, 0},
    {"W_Addr67_text",             FieldPage::SetPage1,  764, 586,  99, 31, FieldKind::Edit,      -1, -1, 67},
    {"W_Addr67_btn",              FieldPage::SetPage1,  864, 591,  36, 21, FieldKind::Button,    -1, -1, 67},
    {"R_Addr5Num10_text",         FieldPage::SetPage1,  664, 616,  99, 31, FieldKind::Read,      5, 10, 0},
    {"W_Addr68_text",             FieldPage::SetPage1,  764, 616,  99, 31, FieldKind::Edit,      -1, -1, 68},
    {"W_Addr68_btn",              FieldPage::SetPage1,  864, 621,  36, 21, FieldKind::Button,    -1, -1, 68},
    {"R_Addr5Num11_text",         FieldPage::SetPage1,  664, 644,  99, 31, FieldKind::Read,      5, 11, 0},
    {"W_Addr69_text",             FieldPage::SetPage1,  764, 644,  99, 31, FieldKind::Edit,      -1, -1, 69},
    {"W_Addr69_btn",              FieldPage::SetPage1,  864, 649,  36, 21, FieldKind::Button,    -1, -1, 69},
    {"R_Addr5Num12_text",         FieldPage::SetPage1, 1094, 494,  99, 31, FieldKind::Read,      5, 12, 0},
    {"W_Addr70_text",             FieldPage::SetPage1, 1202, 494,  99, 31, FieldKind::Edit,      -1, -1, 70},
    {"W_Addr70_btn",              FieldPage::SetPage1, 1302, 499,  36, 21, FieldKind::Button,    -1, -1, 70},
    {"R_Addr5Num13_text",         FieldPage::SetPage1, 1094, 526,  99, 31, FieldKind::Read,      5, 13, 0},
    {"W_Addr71_text",             FieldPage::SetPage1, 1202, 526,  99, 31, FieldKind::Edit,      -1, -1, 71},
    {"W_Addr71_btn",              FieldPage::SetPage1, 1302, 531,  36, 21, FieldKind::Button,    -1, -1, 71},
    {"R_Addr5Num14_text",         FieldPage::SetPage1, 1094, 554,  99, 31, FieldKind::Read,      5, 14, 0},
    {"W_Addr72_text",             FieldPage::SetPage1, 1202, 554,  99, 31, FieldKind::Edit,      -1, -1, 72},
    {"W_Addr72_btn",              FieldPage::SetPage1, 1302, 559,  36, 21, FieldKind::Button,    -1, -1, 72},
    {"R_Addr86Num1_text",         FieldPage::SetPage1,   60, 762, 217, 31, FieldKind::Read,      86, 1, 0},
    {"W_Addr75_text",             FieldPage::SetPage1,  286, 762, 133, 31, FieldKind::Edit,      -1, -1, 75},
    {"W_Addr75_btn",              FieldPage::SetPage1,  424, 767,  36, 21, FieldKind::Button,    -1, -1, 75},
    {"R_Addr86Num12_text",        FieldPage::SetPage1,  578, 704,  99, 31, FieldKind::Read,      86, 12, 0},
    {"W_Addr76_text",             FieldPage::SetPage1,  724, 704,  99, 31, FieldKind::Edit,      -1, -1, 76},
    {"W_Addr76_btn",              FieldPage::SetPage1,  862, 709,  36, 21, FieldKind::Button,    -1, -1, 76},
    {"R_Addr86Num15_text",        FieldPage::SetPage1,  480, 734, 235, 31, FieldKind::Read,      86, 15, 0},
    {"W_Addr77_text",             FieldPage::SetPage1,  724, 734, 131, 31, FieldKind::Edit,      -1, -1, 77},
    {"W_Addr77_btn",              FieldPage::SetPage1,  862, 739,  36, 21, FieldKind::Button,    -1, -1, 77},
    {"R_Addr86Num27_text",        FieldPage::SetPage1,  518, 764, 197, 31, FieldKind::Read,      86, 27, 0},
    {"W_Addr78_text",             FieldPage::SetPage1,  724, 764, 131, 31, FieldKind::Edit,      -1, -1, 78},
    {"W_Addr78_btn",              FieldPage::SetPage1,  862, 769,  36, 21, FieldKind::Button,    -1, -1, 78},
    {"R_Addr86Num37_text",        FieldPage::SetPage1, 1028, 704,  99, 31, FieldKind::Read,      86, 37, 0},
    {"W_Addr79_text",             FieldPage::SetPage1, 1158, 704,  99, 31, FieldKind::Edit,      -1, -1, 79},
    {"W_Addr79_btn",              FieldPage::SetPage1, 1302, 709,  36, 21, FieldKind::Button,    -1, -1, 79},
    {"R_Addr86Num40_text",        FieldPage::SetPage1, 1028, 734, 121, 31, FieldKind::Read,      86, 40, 0},
    {"W_Addr80_text",             FieldPage::SetPage1, 1158, 734, 121, 31, FieldKind::Edit,      -1, -1, 80},
    {"W_Addr80_btn",              FieldPage::SetPage1, 1302, 739,  36, 21, FieldKind::Button,    -1, -1, 80},
    {"R_Addr91Num0_text",         FieldPage::SetPage1, 1094, 584,  90, 30, FieldKind::Read,      91, 0, 0},
    {"W_Addr106_text",            FieldPage::SetPage1, 1202, 584,  90, 30, FieldKind::Edit,      -1, -1, 106},
    {"W_Addr106_btn",             FieldPage::SetPage1, 1298, 589,  44, 20, FieldKind::SetButton, -1, -1, 106},
    {"R_Addr91Num1_text",         FieldPage::SetPage1, 1094, 612,  90, 30, FieldKind::Read,      91, 1, 0},
    {"W_Addr107_text",            FieldPage::SetPage1, 1202, 612,  90, 30, FieldKind::Edit,      -1, -1, 107},
    {"W_Addr107_btn",             FieldPage::SetPage1, 1298, 617,  44, 20, FieldKind::SetButton, -1, -1, 107},
    {"R_Addr91Num2_text",         FieldPage::SetPage1, 1094, 644,  90, 30, FieldKind::Read,      91, 2, 0},
    {"W_Addr108_text",            FieldPage::SetPage1, 1202, 644,  90, 30, FieldKind::Edit,      -1, -1, 108},
    {"W_Addr108_btn",             FieldPage::SetPage1, 1298, 649,  44, 20, FieldKind::SetButton, -1, -1, 108},
    {"R_Addr4Num18_text",         FieldPage::SetPage1, 1094, 380,  99, 31, FieldKind::Read,      4, 18, 0},
    {"R_Addr86Num0_text",         FieldPage::SetPage1,  218, 704, 111, 31, FieldKind::Read,      86, 0, 0},
    {"R_Addr86Num13_text",        FieldPage::SetPage1,  218, 732,  99, 31, FieldKind::Read,      86, 13, 0},
    // ---- Settings, second page (set_page_2) ---------------------------------------------
    {"R_Addr88Num0_text",         FieldPage::SetPage2,  206, 416,  99, 31, FieldKind::Read,      88, 0, 0},
    {"W_Addr85_text",             FieldPage::SetPage2,  310, 416,  99, 31, FieldKind::Edit,      -1, -1, 85},
    {"W_Addr85_btn",              FieldPage::SetPage2,  426, 420,  36, 23, FieldKind::Button,    -1, -1, 85},
    {"R_Addr88Num1_text",         FieldPage::SetPage2,  180, 446, 125, 31, FieldKind::Read,      88, 1, 0},
    {"W_Addr86_text",             FieldPage::SetPage2,  310, 446,  99, 31, FieldKind::Edit,      -1, -1, 86},
    {"W_Addr86_btn",              FieldPage::SetPage2,  426, 450,  36, 23, FieldKind::Button,    -1, -1, 86},
    {"R_Addr88Num2_text",         FieldPage::SetPage2,  180, 476, 125, 31, FieldKind::Read,      88, 2, 0},
    {"W_Addr87_text",             FieldPage::SetPage2,  310, 476,  99, 31, FieldKind::Edit,      -1, -1, 87},
    {"W_Addr87_btn",              FieldPage::SetPage2,  426, 480,  36, 23, FieldKind::Button,    -1, -1, 87},
    {"R_Addr88Num3_text",         FieldPage::SetPage2,  206, 506,  99, 31, FieldKind::Read,      88, 3, 0},
    {"W_Addr88_text",             FieldPage::SetPage2,  310, 506,  99, 31, FieldKind::Edit,      -1, -1, 88},
    {"W_Addr88_btn",              FieldPage::SetPage2,  426, 510,  36, 23, FieldKind::Button,    -1, -1, 88},
    {"R_Addr88Num4_text",         FieldPage::SetPage2,  206, 536,  99, 31, FieldKind::Read,      88, 4, 0},
    {"W_Addr89_text",             FieldPage::SetPage2,  310, 536,  99, 31, FieldKind::Edit,      -1, -1, 89},
    {"W_Addr89_btn",              FieldPage::SetPage2,  426, 540,  36, 23, FieldKind::Button,    -1, -1, 89},
    {"R_Addr88Num5_text",         FieldPage::SetPage2,  206, 564,  99, 31, FieldKind::Read,      88, 5, 0},
    {"W_Addr90_text",             FieldPage::SetPage2,  310, 564,  99, 31, FieldKind::Edit,      -1, -1, 90},
    {"W_Addr90_btn",              FieldPage::SetPage2,  426, 568,  36, 23, FieldKind::Button,    -1, -1, 90},
    {"R_Addr88Num6_text",         FieldPage::SetPage2,  206, 594,  99, 31, FieldKind::Read,      88, 6, 0},
    {"W_Addr91_text",             FieldPage::SetPage2,  310, 594,  99, 31, FieldKind::Edit,      -1, -1, 91},
    {"W_Addr91_btn",              FieldPage::SetPage2,  426, 598,  36, 23, FieldKind::Button,    -1, -1, 91},
    {"R_Addr88Num9_text",         FieldPage::SetPage2,  206, 624,  99, 31, FieldKind::Read,      88, 9, 0},
    {"W_Addr94_text",             FieldPage::SetPage2,  310, 624,  99, 31, FieldKind::Edit,      -1, -1, 94},
    {"W_Addr94_btn",              FieldPage::SetPage2,  426, 628,  36, 23, FieldKind::Button,    -1, -1, 94},
    {"R_Addr88Num10_text",        FieldPage::SetPage2,  206, 654,  99, 31, FieldKind::Read,      88, 10, 0},
    {"W_Addr95_text",             FieldPage::SetPage2,  310, 654,  99, 31, FieldKind::Edit,      -1, -1, 95},
    {"W_Addr95_btn",              FieldPage::SetPage2,  426, 658,  36, 23, FieldKind::Button,    -1, -1, 95},
    {"R_Addr88Num11_text",        FieldPage::SetPage2,  206, 684,  99, 31, FieldKind::Read,      88, 11, 0},
    {"W_Addr96_text",             FieldPage::SetPage2,  310, 684,  99, 31, FieldKind::Edit,      -1, -1, 96},
    {"W_Addr96_btn",              FieldPage::SetPage2,  426, 688,  36, 23, FieldKind::Button,    -1, -1, 96},
    {"R_Addr88Num12_text",        FieldPage::SetPage2,  206, 714,  99, 31, FieldKind::Read,      88, 12, 0},
    {"W_Addr97_text",             FieldPage::SetPage2,  310, 714,  99, 31, FieldKind::Edit,      -1, -1, 97},
    {"W_Addr97_btn",              FieldPage::SetPage2,  426, 718,  36, 23, FieldKind::Button,    -1, -1, 97},
    {"R_Addr88Num15_text",        FieldPage::SetPage2,  206, 744,  99, 31, FieldKind::Read,      88, 15, 0},
    {"W_Addr100_text",            FieldPage::SetPage2,  310, 744,  99, 31, FieldKind::Edit,      -1, -1, 100},
    {"W_Addr100_btn",             FieldPage::SetPage2,  426, 748,  36, 23, FieldKind::Button,    -1, -1, 100},
    {"R_Addr90Num7_text",         FieldPage::SetPage2,  658, 342,  99, 31, FieldKind::Read,      90, 7, 0},
    {"W_Addr102_text",            FieldPage::SetPage2,  760, 342,  99, 31, FieldKind::Edit,      -1, -1, 102},
    {"W_Addr102_btn",             FieldPage::SetPage2,  864, 346,  36, 23, FieldKind::Button,    -1, -1, 102},
    {"R_Addr90Num8_text",         FieldPage::SetPage2, 1086, 250,  99, 31, FieldKind::Read,      90, 8, 0},
    {"W_Addr103_text",            FieldPage::SetPage2, 1190, 250,  99, 31, FieldKind::Edit,      -1, -1, 103},
    {"W_Addr103_btn",             FieldPage::SetPage2, 1302, 254,  36, 23, FieldKind::Button,    -1, -1, 103},
    {"R_Addr90Num9_text",         FieldPage::SetPage2, 1086, 280,  99, 31, FieldKind::Read,      90, 9, 0},
    {"W_Addr104_text",            FieldPage::SetPage2, 1190, 280,  99, 31, FieldKind::Edit,      -1, -1, 104},
    {"W_Addr104_btn",             FieldPage::SetPage2, 1302, 284,  36, 23, FieldKind::Button,    -1, -1, 104},
    {"R_Addr89Num0_text",         FieldPage::SetPage2,  206,  54,  99, 31, FieldKind::Read,      89, 0, 0},
    {"R_Addr89Num1_text",         FieldPage::SetPage2,  206,  84,  99, 31, FieldKind::Read,      89, 1, 0},
    {"R_Addr89Num2_text",         FieldPage::SetPage2,  206, 114,  99, 31, FieldKind::Read,      89, 2, 0},
    {"R_Addr89Num3_text",         FieldPage::SetPage2,  206, 144,  99, 31, FieldKind::Read,      89, 3, 0},
    {"R_Addr89Num4_text",         FieldPage::SetPage2,  206, 174,  99, 31, FieldKind::Read,      89, 4, 0},
    {"R_Addr89Num5_text",         FieldPage::SetPage2,  658,  56, 131, 31, FieldKind::Read,      89, 5, 0},
    {"R_Addr89Num6_text",         FieldPage::SetPage2,  658,  86, 131, 31, FieldKind::Read,      89, 6, 0},
    {"R_Addr89Num7_text",         FieldPage::SetPage2,  658, 116, 131, 31, FieldKind::Read,      89, 7, 0},
    {"R_Addr89Num8_text",         FieldPage::SetPage2,  658, 146, 131, 31, FieldKind::Read,      89, 8, 0},
    {"R_Addr89Num9_text",         FieldPage::SetPage2,  658, 176, 131, 31, FieldKind::Read,      89, 9, 0},
    {"R_Addr89Num10_text",        FieldPage::SetPage2, 1084,  52, 131, 31, FieldKind::Read,      89, 10, 0},
    {"R_Addr89Num11_text",        FieldPage::SetPage2, 1084,  82, 131, 31, FieldKind::Read,      89, 11, 0},
    {"R_Addr89Num12_text",        FieldPage::SetPage2, 1084, 112,  99, 31, FieldKind::Read,      89, 12, 0},
    {"R_Addr89Num13_text",        FieldPage::SetPage2, 1084, 142,  99, 31, FieldKind::Read,      89, 13, 0},
    {"R_Addr90Num0_text",         FieldPage::SetPage2,  204, 252,  99, 31, FieldKind::Read,      90, 0, 0},
    {"R_Addr90Num1_text",         FieldPage::SetPage2,  204, 282,  99, 31, FieldKind::Read,      90, 1, 0},
    {"R_Addr90Num2_text",         FieldPage::SetPage2,  204, 312,  99, 31, FieldKind::Read,      90, 2, 0},
    {"R_Addr90Num3_text",         FieldPage::SetPage2,  204, 342,  99, 31, FieldKind::Read,      90, 3, 0},
    {"R_Addr90Num4_text",         FieldPage::SetPage2,  658, 252,  99, 31, FieldKind::Read,      90, 4, 0},
    {"R_Addr90Num5_text",         FieldPage::SetPage2,  658, 282,  99, 31, FieldKind::Read,      90, 5, 0},
    {"R_Addr90Num6_text",         FieldPage::SetPage2,  658, 312,  99, 31, FieldKind::Read,      90, 6, 0},
    {"R_Addr88Num16_text",        FieldPage::SetPage2,  658, 418,  99, 31, FieldKind::Read,      88, 16, 0},
    {"R_Addr88Num17_text",        FieldPage::SetPage2,  658, 448, 190, 31, FieldKind::Read,      88, 17, 0},
    {"R_Addr88Num20_text",        FieldPage::SetPage2,  658, 478,  99, 31, FieldKind::Read,      88, 20, 0},
    {"R_Addr88Num21_text",        FieldPage::SetPage2,  658, 508,  99, 31, FieldKind::Read,      88, 21, 0},
    {"R_Addr88Num22_text",        FieldPage::SetPage2,  658, 538,  99, 31, FieldKind::Read,      88, 22, 0},
    {"R_Addr88Num24_text",        FieldPage::SetPage2,  658, 566,  99, 31, FieldKind::Read,      88, 24, 0},
    {"R_Addr88Num26_text",        FieldPage::SetPage2,  658, 596,  99, 31, FieldKind::Read,      88, 26, 0},
    {"R_Addr88Num27_text",        FieldPage::SetPage2,  658, 626,  99, 31, FieldKind::Read,      88, 27, 0},
    {"R_Addr88Num28_text",        FieldPage::SetPage2,  658, 656,  99, 31, FieldKind::Read,      88, 28, 0},
    {"R_Addr88Num29_text",        FieldPage::SetPage2,  658, 686,  99, 31, FieldKind::Read,      88, 29, 0},
    {"R_Addr88Num30_text",        FieldPage::SetPage2,  658, 716,  99, 31, FieldKind::Read,      88, 30, 0},
    {"R_Addr88Num31_text",        FieldPage::SetPage2,  658, 746,  99, 31, FieldKind::Read,      88, 31, 0},
    {"R_Addr88Num33_text",        FieldPage::SetPage2, 1086, 414,  99, 31, FieldKind::Read,      88, 33, 0},
    {"R_Addr88Num34_text",        FieldPage::SetPage2, 1086, 444,  99, 31, FieldKind::Read,      88, 34, 0},
    {"R_Addr88Num35_text",        FieldPage::SetPage2, 1086, 474,  99, 31, FieldKind::Read,      88, 35, 0},
    {"R_Addr88Num36_text",        FieldPage::SetPage2, 1086, 504,  99, 31, FieldKind::Read,      88, 36, 0},
    {"R_Addr88Num37_text",        FieldPage::SetPage2, 1086, 534,  99, 31, FieldKind::Read,      88, 37, 0},
    {"R_Addr88Num38_text",        FieldPage::SetPage2, 1086, 562,  99, 31, FieldKind::Read,      88, 38, 0},
    {"R_Addr88Num39_text",        FieldPage::SetPage2, 1086, 592,  99, 31, FieldKind::Read,      88, 39, 0},
    {"R_Addr88Num40_text",        FieldPage::SetPage2, 1086, 622,  99, 31, FieldKind::Read,      88, 40, 0},
    {"R_Addr88Num41_text",        FieldPage::SetPage2, 1086, 652,  99, 31, FieldKind::Read,      88, 41, 0},
    // ---- Fault (Fault_tabWidget): one-shot commands without an edit field ---------------
    {"W_Addr81_btn",              FieldPage::Fault,     106, 762, 131, 39, FieldKind::Command,   -1, -1, 81},
    {"W_Addr82_btn",              FieldPage::Fault,     538, 762, 131, 39, FieldKind::Command,   -1, -1, 82},
    {"W_Addr83_btn",              FieldPage::Fault,    1050, 762, 131, 39, FieldKind::Command,   -1, -1, 83},
};
// clang-format on

} // namespace

const FieldDef *fieldMap() {
    return kFieldMap;
}

std::size_t fieldMapSize() {
    return sizeof(kFieldMap) / sizeof(kFieldMap[0]);
}

const FieldDef *findField(const QString &name) {
    const QByteArray latin = name.toLatin1();
    for (const FieldDef &f : kFieldMap)
        if (std::strcmp(f.name, latin.constData()) == 0)
            return &f;
    return nullptr;
}

namespace {
const FieldDef *paramRow(int param, FieldKind kind) {
    for (std::size_t i = 0; i < fieldMapSize(); ++i) {
        const FieldDef &f = kFieldMap[i];
        if (f.param != param)
            continue;
        if (f.kind == kind || (kind == FieldKind::Button && f.isButton()))
            return &f;
    }
    return nullptr;
}
} // namespace

const FieldDef *paramEditField(int param) {
    return paramRow(param, FieldKind::Edit);
}

const FieldDef *paramButton(int param) {
    return paramRow(param, FieldKind::Button);
}

const FieldDef *paramReadField(int param) {
    // The map lists each parameter row as read field, edit field, button.
    for (std::size_t i = 1; i < fieldMapSize(); ++i)
        if (kFieldMap[i].kind == FieldKind::Edit && kFieldMap[i].param == param &&
            kFieldMap[i - 1].kind == FieldKind::Read)
            return &kFieldMap[i - 1];
    return nullptr;
}

const char *pageObjectName(FieldPage page) {
    switch (page) {
    case FieldPage::Home:
        return "Host_tabWidget";
    case FieldPage::Data:
        return "Data_tabWidget";
    case FieldPage::SetPage1:
        return "set_page";
    case FieldPage::SetPage2:
        return "set_page_2";
    case FieldPage::Fault:
        return "Fault_tabWidget";
    }
    return "";
}

namespace {

// The form's texts are translated in its own context.
#define FORM_TEXT(text) QT_TRANSLATE_NOOP("Widget", text)

QString formText(const char *text) {
    return QCoreApplication::translate("Widget", text);
}

const FormLabel kFormLabels[] = {
    // Home: the "Host ID" row caption between its separator lines, and "Mean Temp".
    {"label", FieldPage::Home, 420, 524, 120, 22, FORM_TEXT("Host ID")},
    {"label_3", FieldPage::Home, 1166, 120, 88, 20, FORM_TEXT("Mean Temp")},
    // Settings, first page: the balancing rows.
    {"label_2", FieldPage::SetPage1, 928, 588, 160, 22, FORM_TEXT("BalStartVolt(mV)")},
    {"label_5", FieldPage::SetPage1, 928, 616, 160, 22, FORM_TEXT("BalStartVoltDiff(mV)")},
    {"label_6", FieldPage::SetPage1, 928, 648, 160, 22, FORM_TEXT("BalStoptVoltDiff(mV)")},
};

const char *const kRackColumns[kRackTableColumns] = {
    FORM_TEXT("SOC"),         FORM_TEXT("Total Voltage"), FORM_TEXT("Total Current"),
    FORM_TEXT("Max Voltage"), FORM_TEXT("Min Voltage"),   FORM_TEXT("Max Temp"),
    FORM_TEXT("Min Temp"),    FORM_TEXT("System State"),  FORM_TEXT("Relay State")};

const char *const kPackFirstColumns[] = {
    FORM_TEXT("Total Voltage"),   FORM_TEXT("Max Voltage"),     FORM_TEXT("Min Voltage"),
    FORM_TEXT("Min Voltage Num"), FORM_TEXT("Max Voltage Num"), FORM_TEXT("Max Temp"),
    FORM_TEXT("Min Temp"),        FORM_TEXT("Max Temp Num"),    FORM_TEXT("Min Temp Num")};

// The fault legend: one row per fault byte, one column per bit.
const char *const kFaultRowHeaders[kFaultLegendRows] = {
    "Level1 Warning\xEF\xBC\x88H\xEF\xBC\x89",     "Level1 Warning\xEF\xBC\x88L\xEF\xBC\x89",
    "Level2 Fault\xEF\xBC\x88H\xEF\xBC\x89",       "Level2 Fault\xEF\xBC\x88L\xEF\xBC\x89",
    "Level3 Protection1\xEF\xBC\x88H\xEF\xBC\x89", "Level3 Protection1\xEF\xBC\x88L\xEF\xBC\x89",
    "Level3 Protection2\xEF\xBC\x88H\xEF\xBC\x89", "Level3 Protection2\xEF\xBC\x88L\xEF\xBC\x89",
};

const char *const kFaultLegend[kFaultLegendRows][kFaultLegendCols] = {
    {"TEMP_High", "TEMP_Low", "TEMP_Diff_High", "TotVol_High", "TotVol_Low", "CellVolt_High",
     "CellVolt_Low", "CellVolt_Diff_High"},
    {"Charge_OverCur", "Disharge_OverCur", "SOC_High", "SOC_Low", "InsuComm_Warning",
     "TotVol\xEF\xBC\x9C"
     "200V",
     "TotVolDiff_High", "Reserved"},
    {"TEMP_High", "TEMP_Low", "TEMP_Diff_High", "TotVol_High", "TotVol_Low", "CellVolt_High",
     "CellVolt_Low", "CellVolt_Diff_High"},
    {"Charge_OverCur", "Disharge_OverCur", "Reserved", "Reserved", "Reserved", "Reserved",
     "Reserved", "Reserved"},
    {"TEMP_High", "TEMP_Low", "TEMP_Diff_High", "TotVol_High", "TotVol_Low", "CellVolt_High",
     "CellVolt_Low", "CellVolt_Diff_High"},
    {"Charge_OverCur", "Disharge_OverCur", "ChargeCurr_HW", "DischargeCurr_HW", "Reserved",
     "Reserved", "Reserved", "Reserved"},
    {"EEpromRW_Fault", "Reserved", "Reserved", "Reserved", "CellOpen_Fault", "SPI_Fault",
     "CAN1Commu_Fault", "CAN2Commu_Fault"},
    {"PRelay_Fault", "NRelay_Fault", "HSP_BMS_LowVolt", "Insulation_Fault", "L4_TEMP_High",
     "Reserved", "Reserved", "Reserved"},
};

} // namespace

const FormLabel *formLabels() {
    return kFormLabels;
}

std::size_t formLabelCount() {
    return sizeof(kFormLabels) / sizeof(kFormLabels[0]);
}

const FormLabel *findFormLabel(const char *name) {
    for (const FormLabel &l : kFormLabels)
        if (std::strcmp(l.name, name) == 0)
            return &l;
    return nullptr;
}

QString formLabelText(const FormLabel &label) {
    return formText(label.text);
}

QString rackColumnHead(int column) {
    return column >= 0 && column < kRackTableColumns ? formText(kRackColumns[column]) : QString();
}

QString packColumnHead(int column) {
    // Total voltage, the extremes and their numbers; cells 1..52; temperatures 1..22; valve
    // temperatures 1..4; balance states 1..4; the BMU fault word.
    if (column >= 0 && column < 9)
        return formText(kPackFirstColumns[column]);
    if (column >= 9 && column <= 60)
        return QStringLiteral("Cell %1(V)").arg(column - 8);
    if (column >= 61 && column <= 82)
        return QStringLiteral("Temp %1(\u2103)").arg(column - 60);
    if (column >= 83 && column <= 86)
        return QStringLiteral("ValveTemp.%1(\u2103)").arg(column - 82);
    if (column >= 87 && column <= 90)
        return QStringLiteral("BalanceState%1").arg(column - 86);
    if (column == 91)
        return formText(FORM_TEXT("BMU Fault"));
    return QString();
}

QString faultLevelText(int row) {
    return row >= 0 && row < kFaultLegendRows ? formText(kFaultRowHeaders[row]) : QString();
}

QString faultAlarmText(int row, int bit) {
    return row >= 0 && row < kFaultLegendRows && bit >= 0 && bit < kFaultLegendCols
               ? formText(kFaultLegend[row][bit])
               : QString();
}
