#include "fuzz_dumps.h"

#include "ora_dump_writer_pump.h"
#include "ora_dump_writer_rows.h"
#include "sample_dump.h"

#include "fuzz_support.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace fuzz {

void write_fixed_dump(const std::string& path, const bytes& data)
{
    write_file(path, data.data(), data.size());
    const struct timespec times[2] = {{fixed_mtime_s, 0}, {fixed_mtime_s, 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        finding("cannot set the time of " + path);
}

bytes classic_dump() { return sample_dump::bytes(); }

bytes pump_dump()
{
    using ora_pump::column;
    ora_pump::writer w;
    const std::vector<column> dept = {{"DEPTNO", 2, 22, 2, 0, 0, true}, {"DNAME", 1, 14, {}, {}, 873}};
    const std::vector<column> emp = {{"EMPNO", 2, 22, 4, 0, 0, true}, {"ENAME", 1, 10, {}, {}, 873},
                                     {"HIRED", 12, 7, {}, {}}, {"DEPTNO", 2, 22, 2, 0}, {"PHOTO", 113, 4000, {}, {}}};
    w.document(ora_pump::table_doc("SCOTT", "DEPT", dept, {{"PK_DEPT", 2, {"DEPTNO"}}}));
    ora_pump::document_form chunked;
    chunked.chunks = {{1, 150}, {6, 200}};
    w.document(ora_pump::table_doc("SCOTT", "EMP", emp, {{"PK_EMP", 2, {"EMPNO"}}},
                                   {{"FK_DEPTNO", "SCOTT", "DEPT", {"DEPTNO"}, {"DEPTNO"}}}),
               chunked);
    w.document(ora_pump::strmtable_doc("SCOTT", "DEPT", dept));
    w.zeros(3);
    const bytes ten = ora_pump::value(ora_rows::number("10"));
    w.raw(ora_pump::record({ten, ora_pump::value(ora_rows::text(L"ACCOUNTING", 65001))}));
    w.raw(ora_pump::record({ora_pump::value(ora_rows::number("20")), ora_pump::null_value()}));
    ora_pump::document_form utf16;
    utf16.utf16 = true;
    w.document(ora_pump::strmtable_doc("SCOTT", "EMP", emp), utf16);
    w.zeros(2);
    w.raw(ora_pump::lob_record(0x09,
                               {ora_pump::value(ora_rows::number("7369")), ora_pump::value(ora_rows::text(L"SMITH", 65001)),
                                ora_pump::value(ora_rows::date(1980, 12, 17, 0, 0, 0)), ten},
                               ora_rows::hex("00 01 80 00 03 01 02 03 02 05 02 04 05"), 5));
    w.raw(ora_pump::lob_record(0x08, {ora_pump::value(ora_rows::number("7499")), ora_pump::null_value(),
                                      ora_pump::null_value(), ora_pump::null_value()},
                               ora_rows::hex("04 01 FE 00 03 0A 0B 0C"), 5));
    w.document(ora_pump::constraint_doc("SCOTT", "EMP", {"UQ_ENAME", 3, {"ENAME"}}));
    return w.data();
}

bytes pump_export_dump()
{
    using ora_pump::column;
    const std::vector<column> dept = {{"DEPTNO", 2, 22, 2, 0, 0, true}, {"DNAME", 1, 14, {}, {}, 873}};
    const std::vector<column> emp = {{"EMPNO", 2, 22, 4, 0, 0, true}, {"ENAME", 1, 10, {}, {}, 873},
                                     {"PHOTO", 113, 4000, {}, {}}};
    const bytes ten = ora_pump::value(ora_rows::number("10"));
    ora_pump::export_table d{"SCOTT", "DEPT", dept, {}, {{"PK_DEPT", 2, {"DEPTNO"}}}, {}, true};
    d.rows = {ora_pump::record({ten, ora_pump::value(ora_rows::text(L"ACCOUNTING", 65001))}),
              ora_pump::record({ora_pump::value(ora_rows::number("20")), ora_pump::null_value()})};
    ora_pump::export_table e{"SCOTT", "EMP", emp, {}, {{"PK_EMP", 2, {"EMPNO"}}}, {}, true};
    e.rows = {ora_pump::lob_record(0x08, {ora_pump::value(ora_rows::number("7369")), ora_pump::null_value()},
                                   ora_rows::hex("04 01 FE 00 03 0A 0B 0C")),
              ora_pump::record({ora_pump::value(ora_rows::number("7499")), ora_pump::null_value()})};
    ora_pump::export_table bonus{"SCOTT", "BONUS", {{"ENAME", 1, 10, {}, {}, 873}}, {}, {}, {}, false};
    return ora_pump::export_writer::whole({d, e, bonus});
}

}  // namespace fuzz
