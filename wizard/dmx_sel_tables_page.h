// The table page: the dump's tables on offer, a loaded profile's tables
// chosen in advance, and the chosen list handed to the converter on Next.
// It is rebuilt at every activation.
#pragma once

#include "sel_tables_page.h"

class dmx_sel_tables_page : public sel_tables_page {
public:
    dmx_sel_tables_page();

    // Tells a compound dump and the first part of a multi-file dump (a box
    // and an entry of the run's errors, at each activation), then fills the
    // lists.
    bool page_init() override;
    int on_next() override;
    int on_back() override { return 105; }
    void on_help() override;
};
