// A two-list selection page: the names on offer and the names chosen. Both
// lists keep one defined order, case-blind first and then by code point, so
// that names differing only in case still have a fixed place; that order is
// also the order in which the chosen tables are converted. Items go in by
// binary search, and filling or moving everything sorts once, so long lists
// stay quick.
#pragma once

#include "wizard_page.h"

#include <string>
#include <vector>

class QListWidget;

inline constexpr int tables_title_id = 1337;
inline constexpr int tables_available_label_id = 1334;
inline constexpr int tables_available_id = 1317;
inline constexpr int tables_add_id = 1101;
inline constexpr int tables_add_all_id = 1102;
inline constexpr int tables_remove_id = 1111;
inline constexpr int tables_remove_all_id = 1110;
inline constexpr int tables_selected_label_id = 1312;
inline constexpr int tables_selected_id = 1318;

// The lists' order: tk_compare_no_case, then plain code-point order.
bool table_name_before(const std::wstring& a, const std::wstring& b);

class sel_tables_page : public wizard_page<127, wiz_back | wiz_next, page_has_help> {
public:
    sel_tables_page(std::wstring question, std::wstring title = {}, std::wstring subtitle = {});

    // Fills the offer from names; the chosen list starts empty.
    void do_page_init();
    // Moves each name that the offer holds with exactly that text.
    virtual void select_tables(const std::vector<std::wstring>& wanted);

    void on_add();
    void on_add_all();
    void on_delete();
    void on_del_all();
    // The no-selection question, then names := the chosen list in order.
    bool collect_selection();

    // Before the lists are filled, the names to offer; after
    // collect_selection, the names chosen.
    std::vector<std::wstring> names;

    const std::vector<std::wstring>& available_names() const { return available; }
    const std::vector<std::wstring>& selected_names() const { return selected; }

private:
    struct side {
        std::vector<std::wstring>* items;
        QListWidget* list;
    };
    side offer() { return {&available, available_list}; }
    side chosen() { return {&selected, selected_list}; }
    static int selected_row(QListWidget* list);
    // Moves row i of from to its place in to.
    static void move_item(side from, side to, int i);
    static void move_all(side from, side to);
    static void fill(side s);
    static void select_first(side s, bool focus);
    void remove_one(side from, side to);

    std::wstring question;
    QListWidget* available_list = nullptr;
    QListWidget* selected_list = nullptr;
    std::vector<std::wstring> available;
    std::vector<std::wstring> selected;
};
