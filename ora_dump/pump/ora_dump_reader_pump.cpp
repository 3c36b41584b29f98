// The Data Pump opening: the fixed header, then the table positions from the
// context file of an earlier opening or from a fresh scan.
#include "ora_dump_reader.h"

#include "ora_dump_file.h"
#include "ora_dump_pump_reader_th.h"
#include "ora_dump_pump_scan.h"
#include "ora_dump_stream.h"
#include "tk_exception.h"
#include "tk_logger.h"

std::unique_ptr<ora_dump_file> ora_dump_reader::open_datapump(const std::wstring& path,
                                                              std::unique_ptr<ora_dump_stream> stream)
{
    ora_dump_pump::header header;
    if (!ora_dump_pump::read_header(*this, *stream, header))
        throw tk_final_exception();  // for a reporter that returned

    // The national set keeps the class every opening starts with.
    auto decoder = std::make_unique<ora_dump_pump_reader_th>();
    decoder->reset_skip_flag();
    m_datapump = true;
    if (info.dump_length <= 0 || info.dump_length > stream->size())
        info.dump_length = stream->size();
    info.pump_block_size = header.block_size;
    stream->clear();
    stream->seek(0);
    set_progress(stream->tell(), info.dump_length);
    TK_TRACE(2, "Read tables \n");
    send_log(ora_log_kind::shown, "Reading tables...\n");

    ora_dump_file::context ctx;
    bool loaded = load_context(ctx, path, 1);
    if (loaded && !ora_dump_pump::context_fits(ctx, info.dump_length)) {
        TK_TRACE(3, "The dump context file does not fit the dump; scanning the dump");
        loaded = false;
    }
    if (!loaded) {
        start_scan(ctx, path, 1);
        ctx.export_header = header.export_header;
        ora_dump_pump::scan(*this, *stream, ctx, header);
    }
    auto database = std::move(ctx).open_database(std::move(stream), std::move(decoder), info);
    set_ui_progress(100);
    return database;
}
