// Cancel on the conversion page while a large table's rows are being
// copied into the test server: the run stops at the next record, the rows
// copied so far are committed, the tables after it are never made, and no
// dialog or box but the exit question appears.

#include "wizserver_quick_support.h"

#include "e2e_dumps.h"
#include "run_wizard.h"

#include "velconv_convertor.h"

#include <atomic>
#include <cstdint>

using namespace wizard_test;

namespace {

using cancel_test = quick_fixture;

constexpr int big_rows = 200000;

}  // namespace

TEST_F(cancel_test, CancelWhileATableIsCopiedCommitsAPrefixOfItsRowsAndMakesNoLaterTable)
{
    std::vector<std::pair<std::string, std::wstring>> rows;
    rows.reserve(big_rows);
    for (int id = 1; id <= big_rows; ++id)
        rows.emplace_back(std::to_string(id), L"row " + std::to_wstring(id));
    const std::string src = write_dump(
        "big.dmp", classic_dump::whole_dump({e2e_dumps::pair_table("BIG", rows),
                                            e2e_dumps::pair_table("LATER", {{"1", L"after the big one"}})}));
    rows.clear();
    const std::string p = profile(src, 0, "BIG\r\nLATER\r\n");

    velconv_convertor* run = nullptr;
    wizard_hooks hooks;
    hooks.converter_ready = [&](velconv_convertor& c) { run = &c; };
    std::uint32_t table_at_cancel = 99;
    std::uint64_t record_at_cancel = 0;
    ui.dialog_handlers["sheet"] = [&](QDialog& d) {
        auto& shell = dynamic_cast<wizard_shell&>(d);
        // The row counter the conversion page shows has started on the
        // first table: its COPY is running.
        const bool copying = QTest::qWaitFor(
            [&] { return shell.current_idd() == 107 && run->cur_rec.load() > 0; }, quick_wait);
        EXPECT_TRUE(copying);
        table_at_cancel = run->cur_table.load();
        record_at_cancel = run->cur_rec.load();
        ui.answers.push_back(true);
        press(d, sheet_cancel_id);
        // The sheet closes by itself once the run has ended.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !shell.isVisible(); }, quick_wait));
    };
    EXPECT_EQ(run_wizard({p}, ui, hooks), 0);

    EXPECT_EQ(table_at_cancel, 0u);
    EXPECT_GT(record_at_cancel, 0u);
    // Only the exit question: no Continue/Abort dialog, no error box.
    EXPECT_EQ(ui.dialogs(), std::vector<std::string>{"sheet"});
    const auto boxes = ui.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, box_kind::question);
    // The first table keeps the rows copied before the stop, committed and
    // without a gap; the second was never made.
    EXPECT_EQ(user_tables(), "big");
    const long count = std::stol(query("SELECT count(*) FROM big"));
    EXPECT_GE(count, static_cast<long>(record_at_cancel));
    EXPECT_LT(count, big_rows);
    EXPECT_EQ(query("SELECT min(id) FROM big"), "1");
    EXPECT_EQ(query("SELECT max(id) FROM big"), std::to_string(count));
    EXPECT_EQ(query("SELECT count(DISTINCT id) FROM big"), std::to_string(count));
    EXPECT_EQ(query("SELECT count(*) FROM big WHERE name <> 'row ' || id"), "0");
}
