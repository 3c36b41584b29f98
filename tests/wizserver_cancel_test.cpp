// Cancel on the conversion page while a table's rows are being copied into
// the test server: the run stops at the next record, the rows copied so far
// are committed, the tables after it are never made, and no dialog or box
// but the exit question appears.

#include "wizserver_quick_support.h"

#include "converter_fakes.h"
#include "run_wizard.h"

#include "velconv_convertor.h"

#include <atomic>
#include <cstdint>

using namespace wizard_test;

namespace {

using cancel_test = quick_fixture;

constexpr int big_rows = 5000;
// The record at which the source waits for the user's Cancel.
constexpr int cancel_at = 1000;

}  // namespace

TEST_F(cancel_test, CancelWhileATableIsCopiedCommitsTheRowsCopiedBeforeAndMakesNoLaterTable)
{
    // The source holds its record until the Cancel has been handled, so the
    // COPY is running, with its first rows on their way, whatever the
    // machine's speed; and a Cancel that cancelled the server's COPY would
    // have reached it before the rest of the rows.
    std::atomic<bool> holding{false};
    std::atomic<bool> cancel_handled{false};
    fake::table_script big = fake::table(L"BIG", big_rows);
    big.on_record = [&](int number) {
        if (number != cancel_at)
            return;
        holding = true;
        hold_until(cancel_handled);
    };
    const std::string p = profile(work.file("scripted.dmp"), 0, "BIG\r\nLATER\r\n");
    tk_test::write_file(work.file("scripted.dmp"), "the opening is scripted");

    velconv_convertor* run = nullptr;
    wizard_hooks hooks;
    hooks.converter_ready = [&](velconv_convertor& c) {
        run = &c;
        c.opener().set_open_function([&](ora_dump_reader& reader, const std::wstring&) {
            reader.set_ui_progress(100);
            return std::unique_ptr<udb_database>(
                std::make_unique<fake::script_source>(std::vector<fake::table_script>{big, fake::table(L"LATER", 1)}));
        });
    };
    std::uint32_t table_at_cancel = 99;
    std::uint64_t record_at_cancel = 0;
    ui.dialog_handlers["sheet"] = [&](QDialog& d) {
        auto& shell = dynamic_cast<wizard_shell&>(d);
        if (!wait_for_state([&] { return shell.current_idd() == 107 && holding.load(); },
                            "the run to hold record " + std::to_string(cancel_at) + " of BIG"))
            return;
        table_at_cancel = run->cur_table.load();
        record_at_cancel = run->cur_rec.load();
        ui.answers.push_back(true);
        press(d, sheet_cancel_id);
        EXPECT_TRUE(run->stop_requested());
        cancel_handled = true;
        // The sheet closes by itself once the run has ended.
        wait_for_state([&] { return !shell.isVisible(); }, "the sheet to close after the Cancel");
    };
    EXPECT_EQ(run_wizard({p}, ui, hooks), 0);

    EXPECT_EQ(table_at_cancel, 0u);
    EXPECT_EQ(record_at_cancel, static_cast<std::uint64_t>(cancel_at - 1));
    // Only the exit question: no Continue/Abort dialog, no error box.
    EXPECT_EQ(ui.dialogs(), std::vector<std::string>{"sheet"});
    const auto boxes = ui.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, box_kind::question);
    // The first table keeps every row copied before the stop, committed and
    // without a gap (the held record was copied as the stop came); the
    // second was never made.
    EXPECT_EQ(user_tables(), "big");
    EXPECT_EQ(query("SELECT count(*) || '|' || min(id) || '|' || max(id) || '|' || count(DISTINCT id) FROM big"),
              std::to_string(cancel_at) + "|1|" + std::to_string(cancel_at) + "|" + std::to_string(cancel_at));
}
