#include "velconv_convertor.h"

#include "front_end.h"
#include "pgs_database.h"

#include "tk_exception.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "udb_database.h"
#include "udb_profile.h"

#include <exception>
#include <utility>

namespace {

bool is_console_program()
{
    return front_end::instance()->is_console();
}

// A settings-file flag: stored as 0 or 1, any non-zero number loads as 1.
bool serialize_flag(tk_reg_key& key, const char* name, std::uint8_t& field, bool store)
{
    bool on = field != 0;
    const bool done = key.serialize(name, on, store);
    if (!store && done)
        field = on ? 1 : 0;
    return done;
}

}  // namespace

velconv_convertor::velconv_convertor() : tk_serializer(velc_settings_key), console(is_console_program())
{
    TK_TRACE(2, "velconv_convertor::ctor");
    case_sens = console ? 0 : 1;
    if (!console)
        serialize(false);
}

velconv_convertor::~velconv_convertor()
{
    TK_TRACE(2, "velconv_convertor::dtor");
    if (!console) {
        try {
            serialize(true);
        } catch (const std::exception& e) {
            tk_trace(3, "The settings cannot be saved: %s", e.what());
        } catch (...) {
            tk_trace(3, "The settings cannot be saved");
        }
    }
    // Destroying the dump writes its context file; a failure there must not
    // end the program from a destructor.
    ora_dump_opener_t::destroy_quietly(std::move(source_db));
}

void velconv_convertor::check_dest()
{
    TK_TRACE(1, "velconv_convertor::check_dest()");
    // A dump that ends early holds only part of the export: it may fill a
    // new database, but an existing one is not dropped for it.
    if (dest_mode() == udb_dest_mode::replace_database && source_db && source_db->is_truncated() &&
        (dest_provider ? dest_provider->dest_exists(*this) : engine.is_db_exist(dest)))
        throw tk_exception(tk_format("The database '%s' is not replaced: the dump file is truncated or incomplete.",
                                     dest),
                           1);
    if (dest_provider) {
        dest_provider->check_dest(*this);
        return;
    }
    if (dest_mode() == udb_dest_mode::replace_database && engine.is_db_exist(dest)) {
        // Nothing is dropped that the run could not make again.
        try {
            engine.check_create_db(dest);
        } catch (const tk_exception& e) {
            throw tk_exception(tk_format("The database '%s' is not replaced: %s", dest, e.message), 1);
        }
        engine.delete_db(dest);
        dest_dropped = true;
    }
}

std::unique_ptr<udb_database> velconv_convertor::get_dest_base()
{
    TK_TRACE(2, "velconv_convertor::get_dest_base");
    if (dest_provider)
        return dest_provider->get_dest_base(*this);
    if (engine.is_db_exist(dest))
        return engine.open_db(dest,
                             dest_mode() == udb_dest_mode::replace_database ? udb_open_flags::existing_replaced
                                                                            : udb_open_flags::existing_kept,
                             std::wstring());
    return engine.create_db(dest);
}

void velconv_convertor::set_dest_provider(std::unique_ptr<velconv_dest_provider> provider)
{
    dest_provider = std::move(provider);
}

std::vector<std::wstring> velconv_convertor::get_all_tables()
{
    TK_TRACE(2, "velconv_convertor::get_all_tables");
    udb_database* db = dump_opener.database();
    if (!db)
        db = source_db.get();
    if (!db)
        return {};
    return db->get_table_names();
}

std::wstring make_title()
{
    return tk_wformat(L"Velmora to PostgreSQL %d.%d", velc_version_major, velc_version_minor);
}

bool velconv_convertor::serialize(bool store)
{
    TK_TRACE(1, "serialize( %d )", store ? 1 : 0);
    if (console)
        return false;
    if (open() != 0)
        return false;

    bool all = true;
    if (!store)
        case_sens = 1;
    all &= serialize_flag(*this, "case_sens", case_sens, store);
    all &= tk_reg_key::serialize(std::wstring(L"dest"), dest, store);
    all &= tk_reg_key::serialize(std::string("host"), host, store);
    all &= tk_reg_key::serialize(std::string("log_file"), log_file, store);

    if (store) {
        std::uint32_t p = port > 0 ? static_cast<std::uint32_t>(port) : 0;
        all &= tk_reg_key::serialize(std::string("port"), p, store);
    } else {
        port = 0;
        std::uint32_t p = 0;
        // A port no connection could use counts as unreadable.
        if (tk_reg_key::serialize(std::string("port"), p, store) && p <= 65535)
            port = static_cast<std::int32_t>(p);
        else
            all = false;
    }

    if (!store)
        skip_idx = 0;
    all &= serialize_flag(*this, "skip_idx", skip_idx, store);
    all &= tk_reg_key::serialize(std::wstring(L"src"), src, store);
    if (!store)
        tab_def = 0;
    all &= serialize_flag(*this, "tab_def", tab_def, store);
    if (!store)
        use_schema = 0;
    all &= serialize_flag(*this, "use_schema", use_schema, store);
    all &= tk_reg_key::serialize(std::string("user"), user, store);
    all &= tk_reg_key::serialize(std::string("pswd"), password, store);
    close();
    return all;
}

bool velconv_convertor::store_profile(udb_profile& profile)
{
    udb_converter::store_profile(profile);
    pgs_converter_impl::store_profile(profile);
    profile.set_value(L"Generic settings", L"case_sens", case_sens ? L"1" : L"0");
    profile.set_value(L"Generic settings", L"use_schema", use_schema ? L"1" : L"0");
    return true;
}

bool velconv_convertor::load_profile(udb_profile& profile)
{
    udb_converter::load_profile(profile);
    pgs_converter_impl::load_profile(profile);
    // A key left out (a profile older than the key) changes nothing.
    const std::wstring v = profile.get_value(L"Generic settings", L"case_sens");
    if (!v.empty())
        set_case_sens(v == L"1");
    const std::wstring merge = profile.get_value(L"Generic settings", L"use_schema");
    if (!merge.empty())
        set_use_schema(merge == L"1");
    return true;
}

bool velconv_convertor::save_profile_file(const std::wstring& path)
{
    udb_profile profile;
    store_profile(profile);
    return profile.store(path);
}

bool velconv_convertor::load_profile_file(const std::wstring& path)
{
    udb_profile profile;
    if (!profile.load(path))
        return false;
    load_profile(profile);
    return true;
}

void velconv_convertor::set_case_sens(bool on)
{
    case_sens = on ? 1 : 0;
    engine.keep_case = on;
}

void velconv_convertor::settle_name_settings()
{
    set_case_sens(engine.keep_case);
    set_use_schema(dump_opener.reader().merge_schema);
}

void velconv_convertor::set_use_schema(bool on)
{
    use_schema = on ? 1 : 0;
    dump_opener.reader().merge_schema = on;
}
